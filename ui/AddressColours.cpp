#include "ui/AddressColours.h"

#include <algorithm>
#include <array>

namespace {

// Okabe and Ito's palette, which readers with any common colour-vision
// deficiency can tell apart; black comes last and is the text colour, so it
// shows on a dark style too. The order puts the colours that stand out best
// from the plot's background first, as most hops answer from one or two
// addresses: on a light one the yellow is nearly invisible, on a dark one the
// deep blue is the dimmest.
constexpr std::array<QRgb, 7> okabeItoOnLight{0x0072B2, 0xD55E00, 0x009E73, 0xCC79A7,
                                              0xE69F00, 0x56B4E9, 0xF0E442};
constexpr std::array<QRgb, 7> okabeItoOnDark{0x56B4E9, 0xE69F00, 0x009E73, 0xCC79A7,
                                             0xF0E442, 0xD55E00, 0x0072B2};

} // namespace

bool AddressColours::dark(const QPalette &palette)
{
    return palette.color(QPalette::Base).lightness() < palette.color(QPalette::Text).lightness();
}

AddressColours::AddressColours(const std::vector<int32_t> &entries, const QPalette &palette)
    : entries_(entries), text_(palette.color(QPalette::Text))
{
    const auto &colours = dark(palette) ? okabeItoOnDark : okabeItoOnLight;
    size_t logged = 0;
    for (const int32_t entry : entries) {
        if (entry == 0) {
            colours_.push_back(palette.color(QPalette::Disabled, QPalette::Text));
            continue;
        }
        const size_t n = logged++ % (colours.size() + 1);
        colours_.push_back(n < colours.size() ? QColor(colours[n]) : text_);
    }
}

QColor AddressColours::of(int32_t entry) const
{
    const auto it = std::find(entries_.begin(), entries_.end(), entry);
    return it == entries_.end() ? text_ : colours_[static_cast<size_t>(it - entries_.begin())];
}
