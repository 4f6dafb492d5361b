#pragma once

// A simulated site as the event-server simulator serves it: users and a flat
// object set whose parent ids form a tree below rootId.

#include "es/korvues.h"

#include <string>
#include <vector>

namespace essim {

struct SiteUser
{
    std::string name;
    std::string password;
    long long id = 0;
};

struct Site
{
    std::vector<SiteUser> users;
    long long rootId = 0;
    // In serving order; an id may repeat.
    std::vector<korvu::es::Object> objects;
};

// Reads the "users", "rootId" and "objects" sections of a site file (other
// sections are left to other simulators). False with *error on any problem;
// the error names the offending entry.
bool parseSite(const std::string &json, Site *site, std::string *error);
bool loadSiteFile(const std::string &path, Site *site, std::string *error);

// A large site for benchmarks: `gateways` devices below one container, each
// with a container of `streamsPerGateway` live fisheye streams.
Site generateSite(int gateways, int streamsPerGateway);

} // namespace essim
