// pugixml is this program's one door to XML; the info file is the only XML the library reads.
#include "library/export_info.h"

#include <cerrno>
#include <cstdlib>
#include <pugixml.hpp>

#include "core/log.h"
#include "library/catalog_list.h"
#include "platform/file_sys.h"
#include "platform/codepage.h"
#include "platform/stream.h"

namespace fv {

namespace {

FV_DECLARE_EXCEPTION(EInfoDataValueError, Exception);

// far above any real file; the whole file is read into memory
constexpr int64_t kMaxInfoFileSize = 64 * 1024 * 1024;

// Integer of an attribute or element text; "true"/"false" are accepted for flags.
int32_t ParseInt(const char* text, const char* what) {
    std::string s = text ? text : "";
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    s = s.substr(b, e - b);
    if (s == "true" || s == "True" || s == "TRUE") return 1;
    if (s == "false" || s == "False" || s == "FALSE") return 0;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || *end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX)
        throw EInfoDataValueError(Format("'%s' is not a valid integer value (%s)", s.c_str(), what));
    return static_cast<int32_t>(v);
}

}  // namespace

void SetNodeDataToCatalogItem(const pugi::xml_node& element, TCatalogItem* item) {
    try {
        if (!element) throw EInfoDataXmlError("Node is nil.");
        if (!item) throw EInfoDataXmlError("Item is nil.");
        if (pugi::xml_attribute a = element.attribute("mark")) item->SetMarked(ParseInt(a.value(), "mark") != 0);
        // the attribute is spelled this way in every file ever written
        if (pugi::xml_attribute a = element.attribute("orietation")) item->SetOrientation(ParseInt(a.value(), "orietation"));
        if (pugi::xml_node c = element.child("comment")) item->SetComment(c.text().get());
        if (pugi::xml_node fx = element.child("effect")) {
            TCorrectionRecord rec = TCorrectionRecord::Neutral();
            int32_t enabled = ParseInt(fx.text().get(), "effect");
            rec.Enabled = static_cast<uint8_t>(enabled);
            if (enabled != 0) {
                auto take = [&](const char* name, int32_t& field) {
                    if (pugi::xml_attribute a = fx.attribute(name)) field = ParseInt(a.value(), name);
                };
                auto takeByte = [&](const char* name, uint8_t& field) {
                    if (pugi::xml_attribute a = fx.attribute(name)) field = static_cast<uint8_t>(ParseInt(a.value(), name));
                };
                take("meido", rec.Brightness);
                take("cont", rec.Contrast);
                take("gamma", rec.Gamma);
                take("red", rec.Red);
                take("green", rec.Green);
                take("blue", rec.Blue);
                takeByte("filter1", rec.Filter1);
                takeByte("filter2", rec.Filter2);
                takeByte("filter3", rec.Filter3);
            }
            item->SetCorrection(rec);
        }
    } catch (const Exception& e) {
        throw EInfoDataXmlError(Format("%s Raised in %s (%s)", e.ClassName(), "SetNodeDataToCatalogItem", e.Message().c_str()));
    }
}

void LoadInfoDataXml(const TItemList& newItems, const std::string& folderPath) {
    if (newItems.empty()) return;
    std::string folder = folderPath;
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    std::string path = folder + "/" + kInfoDataFileName;
    TFileFacts facts;
    if (!ReadFileFacts(path, facts) || !facts.IsFile) return;
    if (facts.Size > kMaxInfoFileSize) {
        WriteLogText("LoadInfoDataXml", Format("%s : %lld bytes, not read", path.c_str(), static_cast<long long>(facts.Size)));
        return;
    }
    try {
        std::string text;
        {
            TMemoryStream m;
            m.LoadFromFile(path);
            text.assign(reinterpret_cast<const char*>(m.Data().data()), m.Data().size());
        }
        pugi::xml_encoding encoding = pugi::encoding_auto;
        bool utf16 = text.size() >= 2 && ((static_cast<uint8_t>(text[0]) == 0xFF && static_cast<uint8_t>(text[1]) == 0xFE) ||
                                          (static_cast<uint8_t>(text[0]) == 0xFE && static_cast<uint8_t>(text[1]) == 0xFF));
        if (!utf16) {
            // files written on Japanese Windows are CP932; UTF-8 ones are taken as they are
            if (!IsValidUtf8(text)) text = Cp932ToUtf8(text);
            encoding = pugi::encoding_utf8;
        }
        pugi::xml_document doc;
        pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size(), pugi::parse_default, encoding);
        if (!parsed) {
            // not our business to repair someone else's file: note it and go on
            WriteLogText("LoadInfoDataXml", Format("%s : %s (offset %lld)", path.c_str(), parsed.description(),
                                                   static_cast<long long>(parsed.offset)));
            return;
        }
        pugi::xml_node root = doc.document_element();
        if (!root || !root.first_child() || std::string(root.name()) != "CorvaExportInfo") return;
        TCatalogList list;
        for (TCatalogItem* it : newItems) list.Add(it);
        list.Sort();
        for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
            if (node.type() != pugi::node_element || std::string(node.name()) != "file") continue;
            pugi::xml_attribute name = node.attribute("name");
            if (!name) continue;
            if (TCatalogItem* item = list.FindByName(name.value())) SetNodeDataToCatalogItem(node, item);
        }
    } catch (const Exception& e) {
        throw EInfoDataXmlError(Format("%s Raised in %s (%s)", e.ClassName(), "LoadInfoDataXml", e.Message().c_str()));
    } catch (const std::exception& e) {
        throw EInfoDataXmlError(
            Format("%s Raised in %s (%s)", ExceptionClassName(e).c_str(), "LoadInfoDataXml", e.what()));
    }
}

}  // namespace fv
