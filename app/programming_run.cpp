#include "app/programming_run.h"

#include "app/messages.h"
#include "app/step_lines.h"
#include "device/programming.h"
#include "flash/geometry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// A read that stopped short of the end of the file: the rest of the image is
// unknown, so nothing may be taken for it.
bool read_failed(const std::istream& image) { return image.bad() || (image.fail() && !image.eof()); }

// Clear first: a stream with its fail flag set does not move.
void rewind_stream(std::istream& image) {
    image.clear();
    image.seekg(0);
}

// The image file page by page, zero after a short read at its end. Pages go
// on while the file does, up to `page_limit`: an image of whole pages
// shorter than that gets one zero page after it, as operators' devices have
// always been written.
class StreamPages : public ImagePages {
public:
    StreamPages(std::istream& image, std::int16_t page_limit) : image_(image), page_limit_(page_limit) {}

    PageRead next(unsigned char* page) override {
        std::memset(page, 0, page_size);
        image_.read(reinterpret_cast<char*>(page), page_size);
        if (read_failed(image_)) return PageRead::failed;
        return ++pages_given_ < page_limit_ && !image_.eof() ? PageRead::more : PageRead::last;
    }

    void rewind() override {
        rewind_stream(image_);
        pages_given_ = 0;
    }

private:
    std::istream& image_;
    std::int16_t page_limit_;
    std::int16_t pages_given_ = 0;
};

}  // namespace

bool image_is_usable(std::istream& image) {
    image.ignore(static_cast<std::streamsize>(flash_size));
    const bool holds_bytes = image.gcount() > 0;
    const bool read_through = !read_failed(image);
    rewind_stream(image);
    return holds_bytes && read_through && !image.fail();
}

void run_programming(std::istream& image) { run_programming(image, flash_pages); }

void run_programming(std::istream& image, std::int16_t page_limit) {
    StreamPages pages(image, std::min<std::int16_t>(page_limit, flash_pages));
    StepLines lines;
    if (const Outcome outcome = program_flash(pages, lines); !outcome.ok()) {
        show_step_failure(outcome);
        box_error_11();
        return;
    }
    print_switch_off_banner("    *       Программирование выполнено !      *");
    box_write_done();
}
