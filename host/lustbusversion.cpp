#include "lustbusversion.h"

const char *lustbusVersion()
{
    return LUSTBUS_VERSION_STRING;
}
