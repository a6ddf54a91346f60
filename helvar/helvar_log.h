// Helvar's diagnostic records: one UtilWriteLog call with the installation directory, a tag,
// the text, its length in bytes and flag 1.
#pragma once

#include <string>
#include <string_view>

namespace helvar {

// The installation directory ("Software\Tavenor\Update", value "path"), read once at start.
void SetInstallDir(std::string_view dir);
std::string InstallDir();

// Writes one record, card numbers and track data masked (protocol/card_mask.h). An empty
// installation directory writes nothing (the utility library refuses it), as on a machine
// without the setting.
void WriteLog(std::string_view tag, std::string_view text);

// UTF-8 text of this source as the CP949 bytes that records, frames and the display carry.
std::string Cp949(std::string_view utf8);

}  // namespace helvar
