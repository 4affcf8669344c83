// Whole catalogue parameters through DriverInterface::read and write, for list, backup,
// diff and restore: a simple value in one request, a STRING's text through its element
// form, an array in runs of as many elements as one request carries (RequestAddress::
// elementsPerRequest), so that nothing is asked for twice.
//
// A simple INT32Q16 read that comes back at 32768.00 counts as failed (see
// RequestAddress::int32Q16ClampError): the servo's value (a negative one) is not what
// came back, and writing it back would change the drive.
#ifndef LUSTBUS_CATALOGUEACCESS_H
#define LUSTBUS_CATALOGUEACCESS_H

#include "catalogueentry.h"
#include "driverinterface.h"
#include "requestaddress.h"
#include "writewatch.h"

#include <QtCore/QList>

#include <functional>

class CatalogueAccess
{
public:
    enum Outcome { Done, Failed, Stopped };
    // Called after every driver request; false ends the work (Stopped): a signal came.
    using AfterRequest = std::function<bool()>;

    CatalogueAccess(DriverInterface &driver, LinkDevice &link, AfterRequest afterRequest = {});

    // The parameter's host data: elements * host width bytes (a STRING's text up to its
    // first zero byte); Failed with the driver's error text.
    Outcome read(const LustBus::CatalogueEntry &entry, QByteArray *host, QString *error);
    // host as read() gives it. *written (when given) says what became of the write, also
    // when a signal stopped it: an array written in several requests that fails after
    // the first is unknown as a whole, part of it being written.
    Outcome write(const LustBus::CatalogueEntry &entry, const QByteArray &host, QString *error,
                  WriteWatch::Outcome *written = nullptr);

    // The requests that read the whole parameter, in order.
    static QList<RequestAddress> readRuns(const LustBus::CatalogueEntry &entry);

private:
    Outcome finish(bool failed, QString *error);

    DriverInterface &m_driver;
    LinkDevice &m_link;
    AfterRequest m_afterRequest;
};

#endif // LUSTBUS_CATALOGUEACCESS_H
