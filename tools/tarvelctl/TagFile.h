// The tag file "ReadTag.ini": where the installed service reads it and how its [State] key is set.
#pragma once

#include <string>
#include <string_view>

#include "platform/ServiceNames.h"

namespace tarvelctl {

using platform::kTagFileName;

/// The folder below the Windows directory in which the service reads its tag file, spelled as
/// the tool must open it: "SysWOW64" for a 32-bit service on 64-bit Windows; otherwise the
/// native system folder, which a tool running under WOW64 reaches as "Sysnative" (its
/// "System32" is redirected to SysWOW64) and any other tool as "System32".
std::string TagFolderName(bool service32Bit, bool windows64Bit, bool toolUnderWow64);

/// The new content of a tag file.
struct TagText {
  std::string text;
  /// The old content was UTF-16 and has been replaced as a whole by an ANSI file.
  bool replacedUtf16 = false;
};

/// Sets key= in the first [State] section of an INI text (sections and keys compared without
/// regard to case and surrounding blanks, as the profile reader does) to value, keeping every
/// other line, the line ends and a UTF-8 byte-order mark. A missing section is appended and a
/// missing key added at the end of its section.
TagText UpdateTagText(std::string_view existing, std::string_view value);

}  // namespace tarvelctl
