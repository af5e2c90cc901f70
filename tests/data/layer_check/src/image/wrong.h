// the temporary arrow is allowed; a sideways one to the interface is not
#include "library/catalog_item.h"
#include "ui/grid/catalog_grid.h"
