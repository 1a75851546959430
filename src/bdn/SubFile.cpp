#include "bdn/SubFile.h"

#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "bdn/BdnDocument.h"

#include <cstring>
#include <limits>

namespace pelldrin {

namespace {

bool IsElement(pugi::xml_node node, const char* name) {
    return node.type() == pugi::node_element && std::strcmp(node.name(), name) == 0;
}

// Reads the model out of one document. Each read names its element through a callable
// that builds the text only when an error needs it.
class ModelReader {
  public:
    ModelReader(const BdnDocument& doc, TBDNFile& file) : doc_(doc), file_(file) {}

    void ReadRoot(pugi::xml_node root) {
        TBDNInfo& info = file_.Info;
        const auto where = [] { return std::string("the root \"BDN\""); };
        info.Version = Value(root, "Version", where);
        info.XmlnsXsi = Value(root, "xmlns:xsi", where);
        info.SchemaLocation = Value(root, "xsi:noNamespaceSchemaLocation", where);
        for (pugi::xml_node child : root.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            if (IsElement(child, "Description")) {
                ReadDescription(child);
            }
            // Sized after each child, so the count is known before a following event list.
            file_.Events.resize(static_cast<std::size_t>(info.NumberofEvents));
            if (IsElement(child, "Events")) {
                ReadEventList(child);
            }
        }
    }

  private:
    void ReadDescription(pugi::xml_node description) {
        TBDNInfo& info = file_.Info;
        for (pugi::xml_node d : description.children()) {
            const auto where = [d] { return Cat({"\"", d.name(), "\" in \"Description\""}); };
            if (IsElement(d, "Name")) {
                info.Title = Value(d, "Title", where);
                info.Content = Value(d, "Content", where);
            } else if (IsElement(d, "Language")) {
                info.LanguageCode = Value(d, "Code", where);
            } else if (IsElement(d, "Format")) {
                info.VideoFormat = Value(d, "VideoFormat", where);
                info.FrameRate = Value(d, "FrameRate", where);
                info.DropFrame = Value(d, "DropFrame", where);
            } else if (IsElement(d, "Events")) {
                const auto summary = [] {
                    return std::string("the summary \"Events\" in \"Description\"");
                };
                info.LastEventOutTC = Value(d, "LastEventOutTC", summary);
                info.FirstEventInTC = Value(d, "FirstEventInTC", summary);
                info.ContentInTC = Value(d, "ContentInTC", summary);
                info.ContentOutTC = Value(d, "ContentOutTC", summary);
                info.NumberofEvents = Count(d, summary);
                info.EventType = Value(d, "Type", summary);
            }
        }
    }

    void ReadEventList(pugi::xml_node list) {
        std::size_t e = 0;
        for (pugi::xml_node event : list.children()) {
            if (event.type() != pugi::node_element) {
                continue;
            }
            const auto where = [event, e] {
                return Cat({"element \"", event.name(), "\" number ", std::to_string(e + 1),
                            " in the event list"});
            };
            if (e >= file_.Events.size()) {
                FailBdn(doc_.path,
                        Cat({"the event list holds more events than NumberofEvents (",
                             std::to_string(file_.Info.NumberofEvents), "): ", where()}));
            }
            TBDNEvents& target = file_.Events[e];
            target.Forced = Value(event, "Forced", where);
            target.InTC = Value(event, "InTC", where);
            target.OutTC = Value(event, "OutTC", where);
            for (pugi::xml_node graphic : event.children()) {
                if (graphic.type() != pugi::node_element) {
                    continue;
                }
                const auto gWhere = [graphic, &where] {
                    return Cat({"\"", graphic.name(), "\" of ", where()});
                };
                const char* name = graphic.text().get();
                if (*name == '\0') {
                    FailBdn(doc_.path, Cat({gWhere(), " names no image file"}));
                }
                target.GraphicFile = name;
                target.Width = Int(graphic, "Width", gWhere);
                target.Height = Int(graphic, "Height", gWhere);
                target.X = Int(graphic, "X", gWhere);
                target.Y = Int(graphic, "Y", gWhere);
            }
            ++e;
        }
    }

    template <class Where>
    const char* Value(pugi::xml_node node, const char* name, const Where& where) {
        const pugi::xml_attribute attr = node.attribute(name);
        if (!attr) {
            FailBdn(doc_.path, Cat({where(), " has no attribute \"", name, "\""}));
        }
        return attr.value();
    }

    template <class Where>
    std::int32_t Int(pugi::xml_node node, const char* name, const Where& where) {
        const char* text = Value(node, name, where);
        std::int64_t value = 0;
        if (!TryParseInt(text, value) || value < std::numeric_limits<std::int32_t>::min() ||
            value > std::numeric_limits<std::int32_t>::max()) {
            FailBdn(doc_.path, Cat({"attribute \"", name, "\" of ", where(),
                                    " is not a decimal integer: \"", text, "\""}));
        }
        return static_cast<std::int32_t>(value);
    }

    // The event count sizes the event array, so it must be one the file could hold:
    // not negative, and not more events than the file has bytes.
    template <class Where> std::int32_t Count(pugi::xml_node node, const Where& where) {
        const std::int32_t count = Int(node, "NumberofEvents", where);
        if (count < 0 || static_cast<std::uint64_t>(count) > doc_.bytes.size()) {
            FailBdn(doc_.path, Cat({"attribute \"NumberofEvents\" of ", where(),
                                    " is not a possible event count: ", std::to_string(count)}));
        }
        return count;
    }

    const BdnDocument& doc_;
    TBDNFile& file_;
};

} // namespace

void ReadBdnModel(const BdnDocument& doc, TBDNFile& file) {
    ModelReader reader(doc, file);
    for (pugi::xml_node node : doc.xml.children()) {
        if (IsElement(node, "BDN")) {
            reader.ReadRoot(node);
        }
    }
}

void RequireSingle(const BdnDocument& doc, pugi::xml_node node, std::string_view what) {
    // The model is read from the last copy of an element, a rewrite changes the first:
    // with two copies the file would no longer read as it was written.
    if (node.next_sibling(node.name())) {
        FailBdn(doc.path, Cat({what, " appears more than once"}));
    }
}

pugi::xml_node FindBdnSummary(const BdnDocument& doc) {
    const pugi::xml_node root = doc.xml.document_element();
    if (!root) {
        FailBdn(doc.path, "the document has no root element");
    }
    RequireSingle(doc, root, Cat({"the root \"", root.name(), "\""}));
    const pugi::xml_node description = root.child("Description");
    if (!description) {
        FailBdn(doc.path, Cat({"the root \"", root.name(), "\" has no \"Description\" element"}));
    }
    RequireSingle(doc, description, "\"Description\"");
    const pugi::xml_node summary = description.child("Events");
    if (!summary) {
        FailBdn(doc.path, "\"Description\" has no summary \"Events\" element");
    }
    RequireSingle(doc, summary, "the summary \"Events\" in \"Description\"");
    return summary;
}

void WriteBdnHeaderValues(pugi::xml_node summary, const TBDNInfo& info) {
    SetAttribute(summary, "LastEventOutTC", info.LastEventOutTC.c_str());
    SetAttribute(summary, "ContentOutTC", info.ContentOutTC.c_str());
    SetAttribute(summary, "NumberofEvents", std::to_string(info.NumberofEvents).c_str());
}

void LoadBDNFile(const std::string& path, TBDNFile& file) {
    BdnDocument doc;
    LoadBdnDocument(doc, path);
    ReadBdnModel(doc, file);
}

namespace {

// Builds the document that SaveBDNHeader starts from when no file exists yet.
void BuildSkeleton(BdnDocument& doc, const TBDNInfo& info) {
    pugi::xml_node decl = doc.xml.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = doc.xml.append_child("BDN");
    root.append_attribute("Version") = info.Version.c_str();
    root.append_attribute("xmlns:xsi") = info.XmlnsXsi.c_str();
    root.append_attribute("xsi:noNamespaceSchemaLocation") = info.SchemaLocation.c_str();
    pugi::xml_node description = root.append_child("Description");
    pugi::xml_node name = description.append_child("Name");
    name.append_attribute("Title") = info.Title.c_str();
    name.append_attribute("Content") = info.Content.c_str();
    description.append_child("Language").append_attribute("Code") = info.LanguageCode.c_str();
    pugi::xml_node format = description.append_child("Format");
    format.append_attribute("VideoFormat") = info.VideoFormat.c_str();
    format.append_attribute("FrameRate") = info.FrameRate.c_str();
    format.append_attribute("DropFrame") = info.DropFrame.c_str();
    pugi::xml_node summary = description.append_child("Events");
    summary.append_attribute("LastEventOutTC") = info.LastEventOutTC.c_str();
    summary.append_attribute("FirstEventInTC") = info.FirstEventInTC.c_str();
    summary.append_attribute("ContentInTC") = info.ContentInTC.c_str();
    summary.append_attribute("ContentOutTC") = info.ContentOutTC.c_str();
    summary.append_attribute("NumberofEvents") = "0";
    summary.append_attribute("Type") = info.EventType.c_str();
    root.append_child("Events");
}

} // namespace

void SaveBDNHeader(const std::string& path, const TBDNFile& file) {
    BdnDocument doc;
    if (FileExists(path)) {
        LoadBdnDocument(doc, path);
    } else {
        // Built in memory and written once together with the header values.
        doc.path = path;
        BuildSkeleton(doc, file.Info);
    }
    WriteBdnHeaderValues(FindBdnSummary(doc), file.Info);
    SaveBdnDocument(doc);
}

} // namespace pelldrin
