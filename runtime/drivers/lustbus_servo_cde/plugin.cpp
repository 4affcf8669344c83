// The library's C entry points besides the ones moc generates for the plugin
// instance and its metadata.
#include "driverlustbusservoccde.h"

#include "lustbus_verification.h"

extern "C" Q_DECL_EXPORT DriverInterface *CreateDriver()
{
    return new DriverLustBusServoCCDE;
}

// Checked by Qt 4 hosts before they load a plugin; the version and build key lines
// must be those of the host's Qt build (CMake cache variables).
extern "C" Q_DECL_EXPORT const char *qt_plugin_query_verification_data()
{
    static const char text[] = "pattern=QT_PLUGIN_VERIFICATION_DATA\n"
                               "version=" LUSTBUS_VERIFICATION_QT_VERSION "\n"
                               "debug=false\n"
                               "buildkey=" LUSTBUS_VERIFICATION_BUILD_KEY;
    return text;
}
