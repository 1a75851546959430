#include "bdn/BdnDocument.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/Utf8.h"

#include <cctype>

namespace pelldrin {

namespace {

// Comments, processing instructions and the doctype are kept so that a rewrite loses
// nothing; whitespace between elements is not, as it carries no data.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration |
                                   pugi::parse_comments | pugi::parse_pi | pugi::parse_doctype;

struct ByteOrder {
    pugi::xml_encoding encoding = pugi::encoding_utf8;
    bool bom = false;
};

// How the file's first bytes are laid out: a byte-order mark, or the zero bytes that a
// "<" in UTF-16 or UTF-32 leaves.
ByteOrder SniffByteOrder(std::string_view b) {
    auto at = [&](std::size_t i) { return i < b.size() ? static_cast<unsigned char>(b[i]) : -1; };
    if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        return {pugi::encoding_utf8, true};
    }
    if (at(0) == 0x00 && at(1) == 0x00 && at(2) == 0xFE && at(3) == 0xFF) {
        return {pugi::encoding_utf32_be, true};
    }
    if (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0x00 && at(3) == 0x00) {
        return {pugi::encoding_utf32_le, true};
    }
    if (at(0) == 0xFE && at(1) == 0xFF) {
        return {pugi::encoding_utf16_be, true};
    }
    if (at(0) == 0xFF && at(1) == 0xFE) {
        return {pugi::encoding_utf16_le, true};
    }
    if (at(0) == 0x00 && at(1) == 0x00 && at(2) == 0x00 && at(3) == '<') {
        return {pugi::encoding_utf32_be, false};
    }
    if (at(0) == '<' && at(1) == 0x00 && at(2) == 0x00 && at(3) == 0x00) {
        return {pugi::encoding_utf32_le, false};
    }
    if (at(0) == 0x00 && at(1) == '<') {
        return {pugi::encoding_utf16_be, false};
    }
    if (at(0) == '<' && at(1) == 0x00) {
        return {pugi::encoding_utf16_le, false};
    }
    return {};
}

bool IsUtf16(pugi::xml_encoding e) {
    return e == pugi::encoding_utf16_le || e == pugi::encoding_utf16_be;
}

bool IsUtf32(pugi::xml_encoding e) {
    return e == pugi::encoding_utf32_le || e == pugi::encoding_utf32_be;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool HasNonAscii(std::string_view bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

// Picks the encoding and byte-order mark for writing the document back in the encoding
// that its declaration names.
void ChooseSaveEncoding(BdnDocument& doc, const ByteOrder& sniffed, pugi::xml_encoding parsedAs) {
    pugi::xml_node decl = doc.xml.first_child();
    const bool hasDecl = decl.type() == pugi::node_declaration;
    const pugi::xml_attribute attr = hasDecl ? decl.attribute("encoding") : pugi::xml_attribute();
    const std::string name = Lower(attr.value());

    if (!attr) {
        // Without a name the file is UTF-8, or UTF-16/32 as its bytes show.
        doc.saveEncoding = parsedAs == pugi::encoding_latin1 ? pugi::encoding_utf8 : parsedAs;
        doc.writeBom = sniffed.bom;
    } else if (name == "utf-8" || name == "utf8") {
        doc.saveEncoding = pugi::encoding_utf8;
        doc.writeBom = sniffed.bom && sniffed.encoding == pugi::encoding_utf8;
    } else if (name == "utf-16") {
        doc.saveEncoding = IsUtf16(sniffed.encoding) ? sniffed.encoding : pugi::encoding_utf16_le;
        doc.writeBom = true; // a UTF-16 document without a byte-order mark is not valid XML
    } else if (name == "utf-16le" || name == "utf-16be") {
        doc.saveEncoding = name == "utf-16le" ? pugi::encoding_utf16_le : pugi::encoding_utf16_be;
        doc.writeBom = sniffed.bom;
    } else if (name == "utf-32" || name == "ucs-4") {
        doc.saveEncoding = IsUtf32(sniffed.encoding) ? sniffed.encoding : pugi::encoding_utf32_le;
        doc.writeBom = true;
    } else if (name == "utf-32le" || name == "utf-32be") {
        doc.saveEncoding = name == "utf-32le" ? pugi::encoding_utf32_le : pugi::encoding_utf32_be;
        doc.writeBom = sniffed.bom;
    } else if (name == "iso-8859-1" || name == "latin1") {
        doc.saveEncoding = pugi::encoding_latin1;
        doc.writeBom = false;
    } else if (name == "us-ascii" || name == "ascii" ||
               (parsedAs == pugi::encoding_utf8 && !HasNonAscii(doc.bytes))) {
        // Plain ASCII reads the same in any of the common 8-bit encodings.
        doc.saveEncoding = pugi::encoding_utf8;
        doc.writeBom = false;
    } else {
        FailBdn(doc.path, Cat({"the declared encoding \"", attr.value(),
                               "\" cannot be read or written by this program"}));
    }
    // Bytes that were read as they are, because the declaration did not open the file
    // or names an encoding they are not in, would lose characters in a conversion:
    // Latin-1 cannot hold most of them, and no encoding holds bytes that are not UTF-8.
    // Such a file is written back byte for byte, declared as what it was read as.
    if (parsedAs == pugi::encoding_utf8 && doc.saveEncoding != pugi::encoding_utf8 &&
        (doc.saveEncoding == pugi::encoding_latin1 || !IsValidUtf8(doc.bytes))) {
        doc.saveEncoding = pugi::encoding_utf8;
        doc.writeBom = sniffed.bom && sniffed.encoding == pugi::encoding_utf8;
        pugi::xml_attribute declared = attr;
        declared.set_value("UTF-8");
    }
}

class StringWriter : public pugi::xml_writer {
  public:
    explicit StringWriter(std::string& out) : out_(out) {}
    void write(const void* data, std::size_t size) override {
        out_.append(static_cast<const char*>(data), size);
    }

  private:
    std::string& out_;
};

} // namespace

void FailBdn(std::string_view path, std::string_view what) {
    throw BdnError(Cat({"BDN file \"", path, "\": ", what}));
}

void LoadBdnDocument(BdnDocument& doc, const std::string& path) {
    doc.path = path;
    try {
        doc.bytes = ReadWholeFile(path);
    } catch (const FileError& e) {
        throw BdnError(e.what());
    }
    const ByteOrder sniffed = SniffByteOrder(doc.bytes); // before the parse writes into them
    // Parsed in place: the texts stay in the file's buffer instead of being copied.
    const pugi::xml_parse_result result =
        doc.xml.load_buffer_inplace(doc.bytes.data(), doc.bytes.size(), kParseOptions);
    if (!result) {
        FailBdn(path, Cat({"not well-formed XML at byte ", std::to_string(result.offset), ": ",
                           result.description()}));
    }
    ChooseSaveEncoding(doc, sniffed, result.encoding);
}

std::string SerializeBdnDocument(const BdnDocument& doc) {
    unsigned flags = pugi::format_indent;
    if (doc.writeBom) {
        flags |= pugi::format_write_bom;
    }
    if (doc.xml.first_child().type() != pugi::node_declaration) {
        flags |= pugi::format_no_declaration; // keep a file without one as it was
    }
    std::string out;
    out.reserve(doc.bytes.size() + doc.bytes.size() / 8 + 4096);
    StringWriter writer(out);
    doc.xml.save(writer, "  ", flags, doc.saveEncoding);
    // The next read guesses an 8-bit file's encoding from a declaration that opens it,
    // which the rewritten file may now have where the old one did not. Should that guess
    // differ from the encoding written, every character above ASCII would change: refuse.
    if (!doc.writeBom && out.compare(0, 5, "<?xml") == 0 &&
        (doc.saveEncoding == pugi::encoding_utf8 || doc.saveEncoding == pugi::encoding_latin1)) {
        const auto declarationEnd = out.find("?>");
        pugi::xml_document probe;
        const pugi::xml_encoding guessed =
            probe
                .load_buffer(out.data(),
                             declarationEnd == std::string::npos ? 0 : declarationEnd + 2,
                             pugi::parse_declaration)
                .encoding;
        if (guessed != doc.saveEncoding && HasNonAscii(out)) {
            FailBdn(doc.path, "its XML declaration would make the rewritten file read in "
                              "another encoding");
        }
    }
    return out;
}

void WriteBdnBytes(const std::string& path, std::string_view bytes) {
    try {
        AtomicWriteFile(path, bytes);
    } catch (const FileError& e) {
        throw BdnError(e.what());
    }
}

void SaveBdnDocument(const BdnDocument& doc) {
    WriteBdnBytes(doc.path, SerializeBdnDocument(doc));
}

pugi::xml_node NodeAtPosition(pugi::xml_node parent, int position) {
    int index = 0;
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element && child.type() != pugi::node_declaration) {
            continue;
        }
        if (index == position) {
            return child;
        }
        ++index;
    }
    return {};
}

void SetAttribute(pugi::xml_node node, const char* name, const char* value) {
    pugi::xml_attribute attr = node.attribute(name);
    if (!attr) {
        attr = node.append_attribute(name);
    }
    attr.set_value(value);
}

} // namespace pelldrin
