// Counts the reddish and the cyan-ish pixels on the root window of the X
// display named by DISPLAY and prints "red <n> cyan <m>". Used by the sample
// tests to see what a graphical sample drew on a virtual display.
//
//   x11_colour_probe [screenshot.ppm]
//
// With an argument it also saves the screen as a binary PPM image.
// Exit status 2 when the display cannot be opened or read, 3 when the image
// cannot be written.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>

namespace {

// Position and width of a colour channel in a pixel value.
struct Channel {
    int shift = 0;
    unsigned long max = 0;
    explicit Channel(unsigned long mask) {
        if (mask == 0) return;
        while ((mask & 1u) == 0) {
            mask >>= 1;
            ++shift;
        }
        max = mask;
    }
    // The channel's value scaled to 0..255.
    int value(unsigned long pixel) const {
        return max == 0 ? 0 : static_cast<int>(((pixel >> shift) & max) * 255 / max);
    }
};

}  // namespace

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 2;
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, root, &attributes) == 0) return 2;
    XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) return 2;
    const Channel red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
    std::FILE* screenshot = argc > 1 ? std::fopen(argv[1], "wb") : nullptr;
    if (argc > 1 && screenshot == nullptr) return 3;
    if (screenshot != nullptr) std::fprintf(screenshot, "P6\n%d %d\n255\n", attributes.width, attributes.height);
    long reddish = 0, cyanish = 0;
    for (int y = 0; y < attributes.height; ++y) {
        for (int x = 0; x < attributes.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const int r = red.value(pixel), g = green.value(pixel), b = blue.value(pixel);
            if (screenshot != nullptr) {
                const unsigned char rgb[3] = {static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                                              static_cast<unsigned char>(b)};
                std::fwrite(rgb, 1, 3, screenshot);
            }
            if (r > 60 && r > 2 * g && r > 2 * b) ++reddish;
            if (g > 60 && b > 60 && 2 * g > 3 * r && 2 * b > 3 * r) ++cyanish;
        }
    }
    XDestroyImage(image);
    if (screenshot != nullptr && std::fclose(screenshot) != 0) return 3;
    XCloseDisplay(display);
    std::printf("red %ld cyan %ld\n", reddish, cyanish);
    return 0;
}
