# Sourced by the scripts: installs the Debian packages named that are missing (root, as on these
# machines). A name with an architecture (wine32:i386) adds that architecture first.
# Usage: install_missing PACKAGE...
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  for p in "${missing[@]}"; do
    if [[ $p == *:* ]] && ! dpkg --print-foreign-architectures | grep -qx "${p#*:}"; then
      dpkg --add-architecture "${p#*:}"
    fi
  done
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
}
