#pragma once
// How catalog items keep the shooting-date calendar in step: the calendar registers
// one process-wide link at start. Items call it after their own lock is released;
// without a link nothing happens.
#include <memory>

#include "platform/datetime.h"

namespace fv {

class TCatalogItem;

class TItemCalendarLink {
public:
    virtual ~TItemCalendarLink() = default;
    // the item became registered in the calendar at its shooting date
    virtual void AddItem(TCatalogItem* item, TDateTime shootingDate) = 0;
    // the item left the calendar (unregistered or deleted)
    virtual void RemoveItem(TCatalogItem* item, TDateTime shootingDate) = 0;
    // a registered item's shooting date changed
    virtual void MoveItem(TCatalogItem* item, TDateTime oldDate, TDateTime newDate) = 0;
};

void SetItemCalendarLink(std::shared_ptr<TItemCalendarLink> link);
std::shared_ptr<TItemCalendarLink> GetItemCalendarLink();

}  // namespace fv
