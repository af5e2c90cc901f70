// an arrow up: core may not see the library
#include "library/catalog_item.h"
#include "platform/exception.h"
