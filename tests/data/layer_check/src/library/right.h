// what the graph allows
#include "core/log.h"
#include "platform/exception.h"
#include <vector>
