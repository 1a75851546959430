// Reading a BDN XML file into the model, and writing its header values back.
#pragma once

#include "bdn/SubFileType.h"

#include <string>

namespace pelldrin {

// Fills file from the BDN XML file at path; fields the file has no element for keep their
// values. Throws BdnError naming the file and the element or attribute at fault; a file
// that cannot be parsed leaves file unchanged.
void LoadBDNFile(const std::string& path, TBDNFile& file);

// Writes LastEventOutTC, ContentOutTC and NumberofEvents of file.Info into the summary of
// the BDN XML file at path, creating the file from the whole header when none exists.
// The file is replaced atomically; on any error it is left as it was.
void SaveBDNHeader(const std::string& path, const TBDNFile& file);

} // namespace pelldrin
