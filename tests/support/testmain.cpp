#include <QtCore/QCoreApplication>

#include <gmock/gmock.h>

// Plugin loading, SQL drivers and sockets expect an application object.
int main(int argc, char **argv)
{
    ::testing::InitGoogleMock(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
