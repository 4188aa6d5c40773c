#include "report/SettingsJson.h"

#include <array>
#include <limits>
#include <utility>

namespace {

constexpr std::array<std::pair<const char *, bool TraceSettings::*>, 3> flags{{
    {"resolve_names", &TraceSettings::optResolveNames},
    {"find_mtu", &TraceSettings::optFindMtu},
    {"asymmetry_view", &TraceSettings::optAsymmetryView},
}};

constexpr std::array<std::pair<const char *, int16_t TraceSettings::*>, 6> numbers{{
    {"packet_size", &TraceSettings::optPacketSize},
    {"timeout_sec", &TraceSettings::optTimeoutSec},
    {"max_runs", &TraceSettings::optMaxRuns},
    {"max_hops", &TraceSettings::optMaxHops},
    {"tos", &TraceSettings::optTos},
    {"mtu_retries", &TraceSettings::optMtuRetries},
}};

constexpr std::array<std::pair<std::string_view, AddressFamily>, 3> families{{
    {"any", AddressFamily::any},
    {"ipv4", AddressFamily::ipv4},
    {"ipv6", AddressFamily::ipv6},
}};

} // namespace

namespace SettingsJson {

nlohmann::ordered_json write(const TraceSettings &settings, AddressFamily family)
{
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    for (const auto &[name, flag] : flags)
        json[name] = settings.*flag;
    for (const auto &[name, number] : numbers)
        json[name] = settings.*number;
    json["family"] = familyName(family);
    return json;
}

std::optional<TraceSettings> read(const nlohmann::json &json)
{
    if (!json.is_object())
        return std::nullopt;
    TraceSettings settings;
    for (const auto &[name, flag] : flags) {
        const auto it = json.find(name);
        if (it == json.end() || !it->is_boolean())
            return std::nullopt;
        settings.*flag = it->get<bool>();
    }
    for (const auto &[name, number] : numbers) {
        const auto it = json.find(name);
        if (it == json.end() || !it->is_number_integer() || *it < std::numeric_limits<int16_t>::min() ||
            *it > std::numeric_limits<int16_t>::max())
            return std::nullopt;
        settings.*number = it->get<int16_t>();
    }
    if (!settings.outOfRange().empty())
        return std::nullopt;
    return settings;
}

const char *familyName(AddressFamily family)
{
    for (const auto &[name, value] : families)
        if (value == family)
            return name.data();
    return "any";
}

std::optional<AddressFamily> familyNamed(std::string_view name)
{
    for (const auto &[text, value] : families)
        if (text == name)
            return value;
    return std::nullopt;
}

} // namespace SettingsJson
