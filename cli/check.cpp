#include "cli/commands.h"

#include <algorithm>
#include <numeric>

namespace {

// A block of nothing but 0xFF is what erased flash holds already.
std::size_t blocks_unlike_erased(const ImageFile& image, const std::vector<std::uint32_t>& blocks) {
    return static_cast<std::size_t>(std::count_if(blocks.begin(), blocks.end(), [&](std::uint32_t block) {
        const auto start = image.bytes.begin() + static_cast<std::ptrdiff_t>(block) * page_size;
        const auto end = image.bytes.begin() +
                         static_cast<std::ptrdiff_t>(std::min<std::size_t>((block + 1) * page_size, image.bytes.size()));
        return std::any_of(start, end, [](unsigned char byte) { return byte != 0xFF; });
    }));
}

std::size_t bytes_given(const std::vector<AddressRange>& ranges) {
    return std::accumulate(ranges.begin(), ranges.end(), std::size_t{0},
                           [](std::size_t sum, const AddressRange& range) { return sum + range.last - range.first + 1; });
}

}  // namespace

CommandResult run_check(const Session& session) {
    CommandResult result;
    ImageFile image;
    if (!load_command_image(session, image, result)) return result;
    result.image.reset();
    const std::vector<std::uint32_t> blocks = image_blocks(image);
    const std::size_t write_blocks = blocks_unlike_erased(image, blocks);
    result.summary = ImageSummary{image.format, image.ranges, blocks.size(), bytes_given(image.ranges), image.sha256,
                                  write_blocks};
    result.detail = format(session.texts.check_writes, write_blocks);
    return result;
}
