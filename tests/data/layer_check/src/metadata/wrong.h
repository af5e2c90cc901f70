// Qt belongs to the interface
#include <QString>
