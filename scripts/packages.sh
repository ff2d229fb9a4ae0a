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
  # A mirror caught mid-sync serves an index of the wrong size, and apt goes on without that
  # list. When that is one architecture's security list, the amd64 and i386 halves of a
  # multi-arch library resolve to different versions and the install fails; the later
  # attempts prefer the release's own versions (-t CODENAME), which both architectures have.
  local attempt release=()
  for attempt in 1 2 3; do
    apt-get update -q || true
    if apt-get install -y -q --no-install-recommends "${release[@]}" "${missing[@]}"; then
      return 0
    fi
    ((attempt < 3)) || break
    echo "== package install failed (attempt $attempt), retrying"
    release=(-t "$(. /etc/os-release && echo "$VERSION_CODENAME")")
    sleep $((attempt * 10))
  done
  return 1
}
