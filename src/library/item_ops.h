#pragma once
// The rules that change a photo's marks, below any window: rating, favourite, delete and print
// reservations, turning and mirroring. Each operation changes only the items it has to and raises
// the catalog event of its kind for each of them, so every view hears of the change; it returns
// the items it changed.
#include <cstdint>
#include <string>
#include <vector>

namespace fv {

class TAlbum;
class TCatalogItem;
struct TCorrectionRecord;

// the most prints one photo can be reserved for
constexpr int kMaxPrintReservation = 8;

// how a yes/no mark is set
enum class TMarkChange : uint8_t { Off, On, Toggle };
// how a print reservation moves
enum class TPrintChange : uint8_t { Plus, Minus, Reset };
// how a photo is turned or mirrored
enum class TTurn : uint8_t { Reset, Left, Right, FlipVertical, Mirror };

using TItemVector = std::vector<TCatalogItem*>;

// An item is gone when it has no owner, its owner is offline, or it is missing or deleted.
bool IsItemGone(const TCatalogItem* item);

// the orientation reset leaves the photos already upright alone; the turns change every photo
TItemVector TurnItems(const TItemVector& items, TTurn turn);
TItemVector SetFavourite(const TItemVector& items, TMarkChange change);
TItemVector SetDeleteReservation(const TItemVector& items, TMarkChange change);
// plus stops at kMaxPrintReservation, minus at none
TItemVector ChangePrintReservation(const TItemVector& items, TPrintChange change);
// the rating of every item that has another one (0..3)
TItemVector SetItemRating(const TItemVector& items, int rating);

// Photos whose files are gone from the disk leave the library: each is marked deleted, leaves its
// folder (whose counts are made again once) and raises the deleted event.
void DropDeletedItems(const TItemVector& items);

// a new correction record for one item; always raises the event (its picture is made again)
void SetItemCorrection(TCatalogItem* item, const TCorrectionRecord& record);

// base when the album has no child of that name, else the first free "base(n)" from 2 on
std::string UniqueChildName(const TAlbum* parent, const std::string& base);

}  // namespace fv
