// A BDN XML document as this library reads and rewrites it: parsed with pugixml, kept
// with its declaration, comments and encoding so that a rewrite changes only what the
// caller changed. Internal to pelldrin_bdn.
#pragma once

#include "bdn/SubFileType.h"

#include <pugixml.hpp>

#include "base/TextHelpers.h"
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pelldrin {

struct BdnDocument {
    std::string path;
    std::string bytes; // the file as read; the parsed texts point into it
    pugi::xml_document xml;
    pugi::xml_encoding saveEncoding = pugi::encoding_utf8;
    bool writeBom = false;
};

// Throws a BdnError whose message names the document's file.
[[noreturn]] void FailBdn(std::string_view path, std::string_view what);

// Reads and parses path into doc and works out the encoding to write it back in.
void LoadBdnDocument(BdnDocument& doc, const std::string& path);

// The bytes of doc in its encoding; throws when they would not read back in it.
std::string SerializeBdnDocument(const BdnDocument& doc);

// Replaces the file at path with bytes atomically; throws BdnError naming it.
void WriteBdnBytes(const std::string& path, std::string_view bytes);

// Serialises doc in its encoding and replaces its file atomically.
void SaveBdnDocument(const BdnDocument& doc);

// The child of parent at position (from 0), counting the declaration and elements only;
// an empty node when there is none.
pugi::xml_node NodeAtPosition(pugi::xml_node parent, int position);

// Sets an attribute, in place when it exists and appended after the others otherwise.
void SetAttribute(pugi::xml_node node, const char* name, const char* value);

// Fills file from doc the way LoadBDNFile does.
void ReadBdnModel(const BdnDocument& doc, TBDNFile& file);

// The summary "Events" of the first "Description" under the root; throws when missing.
pugi::xml_node FindBdnSummary(const BdnDocument& doc);

// Throws when an element named like node follows it: the file holds two copies of what
// a rewrite must change in one place.
void RequireSingle(const BdnDocument& doc, pugi::xml_node node, std::string_view what);

// Writes LastEventOutTC, ContentOutTC and NumberofEvents of info onto the summary.
void WriteBdnHeaderValues(pugi::xml_node summary, const TBDNInfo& info);

} // namespace pelldrin
