#pragma once

#include <QString>

// One row of the gateways table of objects.data, as last loaded.
struct GatewayInfo
{
    QString serial;
    QString host;
    int port = 0;
    bool isActive = false;
};
