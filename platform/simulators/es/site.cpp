#include "platform/simulators/es/site.h"

#include "platform/esclient/textcodec.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <limits>
#include <sstream>

namespace essim {

using korvu::es::NameValueMap;
using korvu::es::Object;
using korvu::es::Value;
using nlohmann::ordered_json;

namespace {

bool integerOf(const ordered_json &v, long long *out)
{
    if (v.is_number_integer()) {
        *out = v.get<long long>();
        return true;
    }
    if (v.is_number_unsigned() &&
        v.get<unsigned long long>() <= (unsigned long long)std::numeric_limits<long long>::max()) {
        *out = (long long)v.get<unsigned long long>();
        return true;
    }
    return false;
}

// Plain JSON values map onto Bool, Int, Float, String and None; every kind can be
// written out as {"kind": "...", "value": ...}.
bool parseValue(const ordered_json &v, Value *out, std::string *error)
{
    long long i = 0;
    if (v.is_null()) {
        *out = Value();
        return true;
    }
    if (v.is_boolean()) {
        *out = Value::fromBool(v.get<bool>());
        return true;
    }
    if (integerOf(v, &i)) {
        *out = Value::fromInt(i);
        return true;
    }
    if (v.is_number()) {
        *out = Value::fromFloat(v.get<double>());
        return true;
    }
    if (v.is_string()) {
        *out = Value::fromString(v.get<std::string>());
        return true;
    }
    if (!v.is_object() || !v.contains("kind") || !v["kind"].is_string()) {
        *error = "a setting must be null, a boolean, a number, a text or {\"kind\": ..., \"value\": ...}";
        return false;
    }
    const std::string kind = v["kind"].get<std::string>();
    const ordered_json value = v.contains("value") ? v["value"] : ordered_json();
    namespace text = korvu::es::text;
    if (kind == "none") {
        *out = Value();
        return true;
    }
    if (kind == "bool" && value.is_boolean()) {
        *out = Value::fromBool(value.get<bool>());
        return true;
    }
    if ((kind == "int" || kind == "id" || kind == "timestamp") && integerOf(value, &i)) {
        *out = kind == "int" ? Value::fromInt(i) : kind == "id" ? Value::fromId(i) : Value::fromTimestamp(i);
        return true;
    }
    if (kind == "float" && value.is_number()) {
        *out = Value::fromFloat(value.get<double>());
        return true;
    }
    if (kind == "string" && value.is_string()) {
        *out = Value::fromString(value.get<std::string>());
        return true;
    }
    if (value.is_string()) {
        const std::string s = value.get<std::string>();
        Value parsed;
        if (kind == "data") {
            std::string bytes;
            if (text::fromBase64(s, &bytes))
                parsed = Value::fromData(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        } else if (kind == "date") {
            korvu::es::Date d;
            if (text::parseDate(s, &d))
                parsed = Value::fromDate(d);
        } else if (kind == "time") {
            korvu::es::Time t;
            if (text::parseTime(s, &t))
                parsed = Value::fromTime(t);
        } else if (kind == "dateTime") {
            korvu::es::DateTime dt;
            if (text::parseDateTime(s, &dt))
                parsed = Value::fromDateTime(dt);
        }
        if (!parsed.isNone()) {
            *out = parsed;
            return true;
        }
    }
    *error = "setting of kind \"" + kind + "\" has no valid \"value\"";
    return false;
}

bool parseObject(const ordered_json &j, Object *out, std::string *error)
{
    long long id = 0, parent = 0, type = 0;
    if (!j.is_object() || !j.contains("id") || !integerOf(j["id"], &id)) {
        *error = "needs an integer \"id\"";
        return false;
    }
    if (!j.contains("parent") || !integerOf(j["parent"], &parent)) {
        *error = "needs an integer \"parent\"";
        return false;
    }
    if (!j.contains("type") || !integerOf(j["type"], &type) || type < 0 || type > 1000000) {
        *error = "needs an integer \"type\" (2 device, 7 container, 10 stream)";
        return false;
    }
    auto text = [&](const char *name, std::string *value) {
        if (!j.contains(name))
            return true;
        if (!j[name].is_string()) {
            *error = std::string("\"") + name + "\" must be a text";
            return false;
        }
        *value = j[name].get<std::string>();
        return true;
    };
    std::string name, className, serial;
    if (!text("name", &name) || !text("className", &className) || !text("serial", &serial))
        return false;
    NameValueMap settings;
    if (j.contains("settings")) {
        const auto &s = j["settings"];
        if (!s.is_object()) {
            *error = "\"settings\" must be an object";
            return false;
        }
        for (auto it = s.begin(); it != s.end(); ++it) {
            Value value;
            if (!parseValue(it.value(), &value, error)) {
                *error = "setting \"" + it.key() + "\": " + *error;
                return false;
            }
            settings.set(it.key(), std::move(value));
        }
    }
    *out = Object(id, parent, int(type), std::move(name), std::move(className), std::move(serial), std::move(settings));
    return true;
}

} // namespace

bool parseSite(const std::string &json, Site *site, std::string *error)
{
    ordered_json root = ordered_json::parse(json, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        *error = "the site file is not a JSON object";
        return false;
    }
    Site result;
    if (root.contains("rootId") && !integerOf(root["rootId"], &result.rootId)) {
        *error = "\"rootId\" must be an integer";
        return false;
    }
    if (root.contains("users")) {
        if (!root["users"].is_array()) {
            *error = "\"users\" must be a list";
            return false;
        }
        std::size_t index = 0;
        for (const auto &u : root["users"]) {
            SiteUser user;
            if (!u.is_object() || !u.contains("name") || !u["name"].is_string() || !u.contains("password") ||
                !u["password"].is_string() || !u.contains("id") || !integerOf(u["id"], &user.id)) {
                *error = "users[" + std::to_string(index) + "] needs \"name\", \"password\" and an integer \"id\"";
                return false;
            }
            user.name = u["name"].get<std::string>();
            user.password = u["password"].get<std::string>();
            result.users.push_back(std::move(user));
            ++index;
        }
    }
    if (root.contains("objects")) {
        if (!root["objects"].is_array()) {
            *error = "\"objects\" must be a list";
            return false;
        }
        std::size_t index = 0;
        for (const auto &o : root["objects"]) {
            Object object;
            if (!parseObject(o, &object, error)) {
                *error = "objects[" + std::to_string(index) + "]: " + *error;
                return false;
            }
            result.objects.push_back(std::move(object));
            ++index;
        }
    }
    *site = std::move(result);
    return true;
}

bool loadSiteFile(const std::string &path, Site *site, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (!parseSite(content.str(), site, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

Site generateSite(int gateways, int streamsPerGateway)
{
    Site site;
    site.rootId = 1;
    site.users.push_back(SiteUser{"admin", "admin", 1});
    site.objects.reserve(std::size_t(gateways) * std::size_t(streamsPerGateway + 2) + 1);
    long long nextId = 100;
    const long long top = nextId++;
    site.objects.emplace_back(top, site.rootId, Object::Container, "Site", "container", "", NameValueMap());
    for (int g = 0; g < gateways; ++g) {
        const long long gatewayId = nextId++;
        const std::string gatewaySerial = "GW-" + std::to_string(g + 1);
        NameValueMap gatewaySettings;
        gatewaySettings.set("host", Value::fromString("127.0.0.1"));
        gatewaySettings.set("port", Value::fromInt(20000 + g % 10000));
        site.objects.emplace_back(gatewayId, top, Object::Device, "Gateway " + std::to_string(g + 1), "gateway",
                                  gatewaySerial, std::move(gatewaySettings));
        const long long cameras = nextId++;
        site.objects.emplace_back(cameras, gatewayId, Object::Container, "Cameras", "container", "", NameValueMap());
        for (int s = 0; s < streamsPerGateway; ++s) {
            const std::string serial = gatewaySerial + "-CAM" + std::to_string(s + 1);
            NameValueMap settings;
            settings.set("url", Value::fromString("ref://" + serial));
            settings.set("fisheye", Value::fromString("1"));
            settings.set("title", Value::fromString("Camera " + std::to_string(s + 1)));
            settings.set("fov", Value::fromFloat(180.0));
            site.objects.emplace_back(nextId++, cameras, Object::Stream, "cam" + std::to_string(s + 1),
                                      "video.fisheye.live", serial, std::move(settings));
        }
    }
    return site;
}

} // namespace essim
