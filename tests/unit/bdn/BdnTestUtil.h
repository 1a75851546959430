// Shared helpers for the BDN tests: the converter-like sample and a flat view of a document.
#pragma once

#include "support/TempDir.h"

#include <pugixml.hpp>

#include <string>
#include <vector>

namespace pelldrin::test {

// The sample BDN file with ten events, as the converter writes one.
inline std::string Converter10() {
    return ReadFile(std::string(PELLDRIN_TEST_DATA) + "/bdn/converter10.xml");
}

// Parses bytes the way a reader of the rewritten file would (declaration and comments kept).
inline pugi::xml_document ParseXml(const std::string& bytes) {
    pugi::xml_document doc;
    const auto result =
        doc.load_buffer(bytes.data(), bytes.size(),
                        pugi::parse_default | pugi::parse_declaration | pugi::parse_comments);
    if (!result) {
        throw std::runtime_error(std::string("test could not parse XML: ") + result.description());
    }
    return doc;
}

// One line per node, in document order: depth, kind, name, attributes in order, text.
inline void Flatten(pugi::xml_node node, int depth, std::vector<std::string>& out) {
    for (pugi::xml_node child : node.children()) {
        std::string line =
            std::to_string(depth) + " " + std::to_string(child.type()) + " " + child.name();
        for (pugi::xml_attribute a : child.attributes()) {
            line += " " + std::string(a.name()) + "=\"" + a.value() + "\"";
        }
        line += std::string(" |") + child.value();
        out.push_back(line);
        Flatten(child, depth + 1, out);
    }
}

inline std::vector<std::string> Flatten(const pugi::xml_document& doc) {
    std::vector<std::string> out;
    Flatten(doc, 0, out);
    return out;
}

// The element children of the event list (the root's second element).
inline std::vector<pugi::xml_node> ListEvents(const pugi::xml_document& doc) {
    std::vector<pugi::xml_node> events;
    for (pugi::xml_node e : doc.child("BDN").child("Events").children("Event")) {
        events.push_back(e);
    }
    return events;
}

// Attribute names of a node in document order, joined with ",".
inline std::string AttributeOrder(pugi::xml_node node) {
    std::string names;
    for (pugi::xml_attribute a : node.attributes()) {
        names += (names.empty() ? "" : ",") + std::string(a.name());
    }
    return names;
}

// Replaces the first occurrence of from in text; the test fails loudly if it is absent.
inline std::string ReplaceOnce(std::string text, const std::string& from, const std::string& to) {
    const auto pos = text.find(from);
    if (pos == std::string::npos) {
        throw std::runtime_error("test sample lacks \"" + from + "\"");
    }
    return text.replace(pos, from.size(), to);
}

} // namespace pelldrin::test
