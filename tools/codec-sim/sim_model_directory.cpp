// The codec model's directory: one server of each of the four directory
// protocols and a few hundred entries with their video devices and
// dialling addresses. Entry ids are "<server id>:<rest>", as the codec
// gives them, so an entry names the server it belongs to.
//
// A server record holding the member "simEmptyPages" (not a codec field;
// set it with the launcher's merge command) answers every page of a list
// with no entries and never reaches the end: the hostile codec a client
// must give up on.
#include <cjson/cJSON.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim_internal.h"

namespace codec_sim_internal {

namespace {

const char *const kFirst[] = {"Ada",   "Ben",  "Chloe", "Dev",   "Elena", "Farid", "Greta", "Hiro",
                              "Ines",  "Jonas", "Kira", "Lars",  "Mona",  "Nadia", "Omar",  "Pia",
                              "Quinn", "Rosa", "Sven",  "Tara"};
const char *const kLast[] = {"Alvarez", "Brandt", "Chen", "Dubois", "Eklund", "Fischer"};
const char *const kRooms[] = {"Boardroom", "Huddle", "Lab", "Studio", "Lounge"};

struct server_desc {
    const char *id;
    int protocol;
    int status;
    const char *group;
    const char *address;
    int port;
};

const server_desc kServers[] = {
    {"local-1", 1, 6, "Local", "localhost", 0},
    {"gds-1", 2, 6, "Global", "gds.example.test", 3601},
    {"ldap-1", 3, 6, "Everyone", "ldap.example.test", 389},
    {"presence-1", 4, 2, "Presence", "presence.example.test", 5222},
};

std::string text(cJSON *o) {
    char *s = cJSON_PrintUnformatted(o);
    std::string out = s ? s : "";
    cJSON_free(s);
    cJSON_Delete(o);
    return out;
}

cJSON *device(const std::string &name, const std::string &id, int rate, const std::vector<std::string> &addrs) {
    cJSON *d = cJSON_CreateObject();
    cJSON_AddNumberToObject(d, "srvrInstance", 0);
    cJSON_AddStringToObject(d, "name", name.c_str());
    cJSON_AddNumberToObject(d, "rate", rate);
    cJSON_AddNumberToObject(d, "addrCount", static_cast<double>(addrs.size()));
    cJSON *a = cJSON_AddArrayToObject(d, "addr");
    for (const auto &s : addrs) cJSON_AddItemToArray(a, cJSON_CreateString(s.c_str()));
    cJSON_AddNumberToObject(d, "presence", 1);
    cJSON_AddNumberToObject(d, "presenceProt", 0);
    cJSON_AddStringToObject(d, "id", id.c_str());
    return d;
}

// A person: first/last/full/display names, e-mail, phones and one or two
// devices with one to three addresses each.
std::string person(const server_desc &srv, int n, const std::string &first, const std::string &last,
                   const std::string &display) {
    char id[64], mail[96], tel[32], h323[32];
    snprintf(id, sizeof id, "%s:%03d", srv.id, n);
    std::string lower = first + "." + last;
    for (char &c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    snprintf(mail, sizeof mail, "%s%d@example.test", lower.c_str(), n);
    snprintf(tel, sizeof tel, "+1 555 %04d", 1000 + n);
    snprintf(h323, sizeof h323, "10.%d.%d.%d", srv.protocol, n / 200, n % 200 + 10);
    cJSON *o = cJSON_CreateObject();
    cJSON_AddNumberToObject(o, "srvrType", srv.protocol);
    cJSON_AddNumberToObject(o, "entryType", 0);
    cJSON_AddStringToObject(o, "id", id);
    cJSON_AddStringToObject(o, "fullName", (first + " " + last).c_str());
    cJSON_AddStringToObject(o, "displayName", display.c_str());
    cJSON_AddStringToObject(o, "firstName", first.c_str());
    cJSON_AddStringToObject(o, "lastName", last.c_str());
    cJSON_AddStringToObject(o, "email", mail);
    cJSON_AddStringToObject(o, "workTel", tel);
    cJSON_AddStringToObject(o, "title", n % 3 ? "Engineer" : "Manager");
    cJSON_AddStringToObject(o, "department", n % 2 ? "Engineering" : "Sales");
    std::vector<std::string> addrs = {std::string("sip:") + mail, h323};
    if (n % 3 == 0) addrs.push_back(tel);
    cJSON *devs = cJSON_AddArrayToObject(o, "videoDevice");
    cJSON_AddItemToArray(devs, device(display + " desk", std::string(id) + "/desk", 1920, addrs));
    int count = 1;
    if (n % 4 == 0) {
        char room[64], raddr[64];
        snprintf(room, sizeof room, "%s %d", kRooms[n % 5], n % 7 + 1);
        snprintf(raddr, sizeof raddr, "room%d.%s@example.test", n, srv.id);
        cJSON_AddItemToArray(devs, device(room, std::string(id) + "/room", 4096, {raddr}));
        count = 2;
    }
    cJSON_AddNumberToObject(o, "videoDeviceCount", count);
    cJSON_AddNumberToObject(o, "rate", 1920);
    return text(o);
}

std::string group(const server_desc &srv, const char *rest, const char *name) {
    cJSON *o = cJSON_CreateObject();
    cJSON_AddNumberToObject(o, "srvrType", srv.protocol);
    cJSON_AddNumberToObject(o, "entryType", 1);
    cJSON_AddStringToObject(o, "id", (std::string(srv.id) + ":" + rest).c_str());
    cJSON_AddStringToObject(o, "fullName", name);
    cJSON_AddStringToObject(o, "displayName", name);
    cJSON_AddNumberToObject(o, "videoDeviceCount", 0);
    cJSON_AddArrayToObject(o, "videoDevice");
    return text(o);
}

std::string server(const server_desc &srv) {
    cJSON *o = cJSON_CreateObject();
    cJSON_AddNumberToObject(o, "enabled", 1);
    cJSON_AddNumberToObject(o, "status", srv.status);
    cJSON_AddStringToObject(o, "groupName", srv.group);
    cJSON_AddStringToObject(o, "address", srv.address);
    cJSON_AddNumberToObject(o, "protocol", srv.protocol);
    cJSON_AddNumberToObject(o, "port", srv.port);
    cJSON_AddStringToObject(o, "id", srv.id);
    return text(o);
}

}  // namespace

std::vector<seed_row> directory_seed() {
    std::vector<seed_row> rows;
    rows.push_back({"Dir", -1, R"({"maxSrvrs":8})"});
    for (const auto &srv : kServers) {
        const int parent = static_cast<int>(rows.size());
        rows.push_back({"DirSrvr", 0, server(srv)});
        int people = 0;
        switch (srv.protocol) {
            case 1: people = 120; break;
            case 2: people = 60; break;
            case 3: people = 100; break;
            default: break;
        }
        for (int n = 1; n <= people; n++) {
            char display[64];
            std::string first, last;
            if (srv.protocol == 3) {
                // The LDAP book reads "Person 001" .. "Person 100".
                char f[16], l[16];
                snprintf(f, sizeof f, "First%03d", n);
                snprintf(l, sizeof l, "Last%03d", n);
                first = f;
                last = l;
                snprintf(display, sizeof display, "Person %03d", n);
            } else {
                first = kFirst[(n - 1) % 20];
                last = kLast[((n - 1) / 20) % 6];
                snprintf(display, sizeof display, "%s %s", first.c_str(), last.c_str());
                if (srv.protocol == 2) snprintf(display, sizeof display, "Site %d (%s)", n, last.c_str());
            }
            rows.push_back({"DirEnt", parent, person(srv, n, first, last, display)});
        }
        if (srv.protocol == 1) rows.push_back({"DirEnt", parent, group(srv, "grp-team", "My team")});
        if (srv.protocol == 2) rows.push_back({"DirEnt", parent, group(srv, "grp-1", "All sites")});
    }
    return rows;
}

bool directory_pages_empty(const cJSON *server) {
    return server && cJSON_GetObjectItemCaseSensitive(server, "simEmptyPages") != nullptr;
}

cJSON *directory_empty_page() {
    cJSON *res = cJSON_CreateObject();
    cJSON_AddNumberToObject(res, "srvrInstance", 0);
    cJSON_AddNumberToObject(res, "listCount", 0);
    cJSON_AddArrayToObject(res, "list");
    cJSON_AddStringToObject(res, "locale", "en_US");
    cJSON_AddNumberToObject(res, "rate", 0);
    return res;
}

}  // namespace codec_sim_internal
