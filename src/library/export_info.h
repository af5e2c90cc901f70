#pragma once
// The exported info file a folder of photos may carry ("CorvaExportInfo.xml"): per file
// the mark, orientation, comment and correction settings that travelled with it. Read
// only, and applied to items that a folder enumeration has just created.
#include <string>

#include "library/catalog_item.h"
#include "library/custom_folder.h"
#include "platform/exception.h"

namespace pugi {
class xml_node;
}

namespace fv {

FV_DECLARE_EXCEPTION(EInfoDataXmlError, Exception);

constexpr const char* kInfoDataFileName = "CorvaExportInfo.xml";

// Applies the folder's file to the new items. Nothing happens for an empty list or a
// missing file; a file that is not well-formed XML (or cannot be read) is ignored with
// a log line. Failures while applying raise EInfoDataXmlError.
void LoadInfoDataXml(const TItemList& newItems, const std::string& folderPath);

// Applies one "file" element to one item.
void SetNodeDataToCatalogItem(const pugi::xml_node& element, TCatalogItem* item);

}  // namespace fv
