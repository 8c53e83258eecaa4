#include "protocol/Articles.h"

#include <array>

namespace qarn {

namespace {

constexpr size_t kArticleLength = 6;

constexpr std::array<std::string_view, 2> kExtendedArticles = {"731458", "762904"};
constexpr std::array<std::string_view, 4> kStandardArticles = {"738812", "469517", "762358",
                                                               "469823"};

// The articles are ASCII, so comparing the first six bytes of the UTF-8 serial is comparing its
// first six characters: a serial whose first six characters are not all ASCII cannot match.
template <size_t N>
bool HasArticleOf(std::string_view serial, const std::array<std::string_view, N>& table) {
    if (serial.size() < kArticleLength)
        return false;
    const std::string_view article = serial.substr(0, kArticleLength);
    for (std::string_view entry : table) {
        if (article == entry)
            return true;
    }
    return false;
}

} // namespace

bool IsExtendedArticle(std::string_view serial) {
    return HasArticleOf(serial, kExtendedArticles);
}

bool IsStandardArticle(std::string_view serial) {
    return HasArticleOf(serial, kStandardArticles);
}

} // namespace qarn
