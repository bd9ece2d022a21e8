#include "engine/clsDrill.h"

#include "engine/modGeneral.h"

#include <algorithm>

namespace sonavel {

namespace {

bool Matches(const DrillItem& entry, const DrillItem& asked) {
    return entry.Type == asked.Type && entry.Interval == asked.Interval &&
           (entry.FirstDegree < 0 ||
            (entry.FirstDegree == asked.FirstDegree && entry.SecondDegree == asked.SecondDegree));
}

int32_t AnyPair(const DrillOption& option) {
    return GetRandomNumber(0, int16_t(option.Pairs.size() - 1));
}

} // namespace

void clsDrill::Learn(int32_t type, int32_t interval, bool missed) {
    Rate& rate = m_rates[{type, interval}];
    rate.Missed = rate.Missed * Decay + (missed ? 1 : 0);
    rate.Weight = rate.Weight * Decay + 1;
}

double clsDrill::ErrorRate(int32_t type, int32_t interval) const {
    const auto found = m_rates.find({type, interval});
    return found == m_rates.end() ? 0 : found->second.Missed / found->second.Weight;
}

int32_t clsDrill::DueCount() const {
    return int32_t(std::ranges::count(Entries, 0, &DrillEntry::Wait));
}

std::pair<const DrillOption*, int32_t>
clsDrill::Choose(const std::vector<DrillOption>& options) const {
    for (const DrillEntry& entry : Entries) {
        if (entry.Wait > 0)
            continue;
        const DrillItem& item = entry.Item;
        for (const DrillOption& option : options) {
            if (option.Type != item.Type || option.Interval != item.Interval)
                continue;
            if (item.FirstDegree < 0)
                return {&option, AnyPair(option)};
            const auto pair =
                std::ranges::find(option.Pairs, std::pair(item.FirstDegree, item.SecondDegree));
            // Those degrees may not exist in this question's key type: the
            // entry waits for one where they do.
            if (pair != option.Pairs.end())
                return {&option, int32_t(pair - option.Pairs.begin())};
        }
    }
    double total = 0;
    for (const DrillOption& option : options)
        total += Floor + ErrorRate(option.Type, option.Interval);
    double point = GetRandomNumber(0, 32766) / 32767.0 * total;
    for (const DrillOption& option : options) {
        point -= Floor + ErrorRate(option.Type, option.Interval);
        if (point < 0)
            return {&option, AnyPair(option)};
    }
    return {&options.back(), AnyPair(options.back())};
}

void clsDrill::Answered(const DrillItem& asked, bool right, bool noteMissed) {
    DrillItem missed = asked;
    if (!noteMissed)
        missed.FirstDegree = missed.SecondDegree = -1;
    bool known = false;
    for (auto entry = Entries.begin(); entry != Entries.end();) {
        known = known || entry->Item == missed;
        if (Matches(entry->Item, asked) && !right) {
            entry->Wait = FirstGap;
            entry->Streak = 0;
        } else if (Matches(entry->Item, asked) && entry->Wait == 0) {
            entry->Gap *= 2;
            entry->Wait = entry->Gap;
            if (++entry->Streak >= RightsToRetire) {
                entry = Entries.erase(entry);
                continue;
            }
        } else {
            entry->Wait = std::max(0, entry->Wait - 1);
        }
        ++entry;
    }
    if (!right && !known)
        Entries.push_back({missed, FirstGap, 0, FirstGap});
}

} // namespace sonavel
