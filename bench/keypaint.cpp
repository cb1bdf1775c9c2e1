// How long a key takes to show on screen, as a user sees it: sends a key press through the X
// server's test extension (so the program takes it as typed), then reads a band of the screen
// over and over until enough of its pixels have changed. Prints one time per key, in ms.
//
//   keypaint X Y WIDTH HEIGHT KEY COUNT PAUSE_MS
//   keypaint --find X Y WIDTH HEIGHT KEY
//   keypaint --find-box X Y WIDTH HEIGHT KEY
//
// --find sends the key once and prints, as "Y HEIGHT", the first band of rows from the top of the
// area that it changed: the line the caret is on, for the timed run.
// --find-box prints "X Y WIDTH HEIGHT": the same line, taken from the first picture that showed
// the key, from where the key went in to the edge of the pane it is in. For a window whose other
// panes (an outline, a preview) follow the text a moment later: with the whole width, --find
// could take their rows for the line, and the timed keys their changes for the text's.
// KEY is an X key name ("W", "BackSpace"). The band should hold the line being typed on: a
// typed character moves the rest of the line, many pixels; the caret's blink changes a few.

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>

// More changed pixels than a blinking caret (two pixels wide, a line tall) can account for.
int threshold(int height)
{
    return 3 * height + 20;
}

double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int changed(XImage *a, XImage *b)
{
    int n = 0;
    for (int y = 0; y < a->height; ++y)
        for (int x = 0; x < a->width; ++x)
            n += XGetPixel(a, x, y) != XGetPixel(b, x, y);
    return n;
}

void press(Display *display, KeySym sym, KeyCode code)
{
    const bool shifted = XkbKeycodeToKeysym(display, code, 0, 0) != sym;
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    if (shifted)
        XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (shifted)
        XTestFakeKeyEvent(display, shift, False, CurrentTime);
    XSync(display, False);
}

// The area before the key, then after it as soon as it changed (20 s at most), read every
// `pollNs` nanoseconds.
std::pair<XImage *, XImage *> pressAndWait(Display *display, int x, int y, int w, int h, KeySym sym,
                                           KeyCode code, long pollNs)
{
    const Window root = DefaultRootWindow(display);
    XImage *before = XGetImage(display, root, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    press(display, sym, code);
    XImage *after = nullptr;
    const double start = now_ms();
    const timespec poll = {0, pollNs};
    do {
        nanosleep(&poll, nullptr);
        if (after)
            XDestroyImage(after);
        after = XGetImage(display, root, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    } while (changed(before, after) <= threshold(1) && now_ms() - start < 20000);
    return {before, after};
}

// The first run of rows, from the top, in which the key changed a few pixels or more.
int findLine(Display *display, int x, int y, int w, int h, KeySym sym, KeyCode code)
{
    const Window root = DefaultRootWindow(display);
    // A page still busy (a long note just switched to) shows the key late: wait for a change,
    // then for the rest of it.
    auto [before, after] = pressAndWait(display, x, y, w, h, sym, code, 50000000L);
    const timespec rest = {0, 500000000L};
    nanosleep(&rest, nullptr);
    XDestroyImage(after);
    after = XGetImage(display, root, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    int first = -1, last = -1;
    for (int row = 0; row < h; ++row) {
        int n = 0;
        for (int col = 0; col < w; ++col)
            n += XGetPixel(before, col, row) != XGetPixel(after, col, row);
        if (n < 3)
            continue;
        if (first >= 0 && row > last + 3)
            break;
        if (first < 0)
            first = row;
        last = row;
    }
    XDestroyImage(before);
    XDestroyImage(after);
    if (first < 0)
        return 1;
    printf("%d %d\n", y + first, last - first + 1);
    return 0;
}

int findBox(Display *display, int x, int y, int w, int h, KeySym sym, KeyCode code)
{
    auto [before, after] = pressAndWait(display, x, y, w, h, sym, code, 5000000L);
    int first = -1, last = -1, left = w;
    for (int row = 0; row < h; ++row) {
        int n = 0, from = w;
        for (int col = 0; col < w; ++col)
            if (XGetPixel(before, col, row) != XGetPixel(after, col, row)) {
                ++n;
                from = std::min(from, col);
            }
        if (n < 3)
            continue;
        if (first >= 0 && row > last + 3)
            break;
        if (first < 0)
            first = row;
        last = row;
        left = std::min(left, from);
    }
    int right = w - 1;
    if (first >= 0) {
        // The pane's background: the commonest colour of the rows just above and below the line.
        // Its edge is the first column right of the key with no background from top to bottom
        // (a border, a scroll bar, another pane's colour); a letter leaves the rows around it be.
        const int top = std::max(first - 2, 0), bottom = std::min(last + 2, h - 1);
        std::vector<unsigned long> around;
        for (int col = left; col < w; ++col) {
            around.push_back(XGetPixel(after, col, top));
            around.push_back(XGetPixel(after, col, bottom));
        }
        std::sort(around.begin(), around.end());
        unsigned long background = around.front();
        size_t best = 0;
        for (size_t i = 0, j; i < around.size(); i = j) {
            for (j = i; j < around.size() && around[j] == around[i]; ++j) {
            }
            if (j - i > best) {
                best = j - i;
                background = around[i];
            }
        }
        for (int col = left + 1; col < w; ++col) {
            bool edge = true;
            for (int row = top; row <= bottom && edge; ++row)
                edge = XGetPixel(after, col, row) != background;
            if (edge) {
                right = col - 1;
                break;
            }
        }
    }
    XDestroyImage(before);
    XDestroyImage(after);
    // What the key set off besides the line (a preview, an outline, a count) comes before timing.
    const timespec rest = {0, 500000000L};
    nanosleep(&rest, nullptr);
    if (first < 0)
        return 1;
    printf("%d %d %d %d\n", x + left, y + first, right - left + 1, last - first + 1);
    return 0;
}

int main(int argc, char **argv)
{
    const bool box = argc == 7 && std::string_view(argv[1]) == "--find-box";
    const bool find = box || (argc == 7 && std::string_view(argv[1]) == "--find");
    if (find) {
        ++argv;
        --argc;
    }
    if (argc != (find ? 6 : 8)) {
        fprintf(stderr, "usage: keypaint [--find|--find-box] X Y WIDTH HEIGHT KEY [COUNT PAUSE_MS]\n");
        return 2;
    }
    const int x = atoi(argv[1]), y = atoi(argv[2]), w = atoi(argv[3]), h = atoi(argv[4]);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        fprintf(stderr, "keypaint: no display\n");
        return 1;
    }
    const KeySym sym = XStringToKeysym(argv[5]);
    const KeyCode code = XKeysymToKeycode(display, sym);
    if (!code) {
        fprintf(stderr, "keypaint: no key %s\n", argv[5]);
        return 1;
    }
    if (box)
        return findBox(display, x, y, w, h, sym, code);
    if (find)
        return findLine(display, x, y, w, h, sym, code);
    const int count = atoi(argv[6]), pause = atoi(argv[7]);
    const Window root = DefaultRootWindow(display);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        XImage *before = XGetImage(display, root, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
        press(display, sym, code);
        const double start = now_ms();
        double took = -1;
        while (now_ms() - start < 10000) {
            XImage *after = XGetImage(display, root, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
            const int n = changed(before, after);
            XDestroyImage(after);
            if (n > threshold(h)) {
                took = now_ms() - start;
                break;
            }
        }
        XDestroyImage(before);
        printf("%.1f\n", took);
        fflush(stdout);
        if (took >= 0)
            times.push_back(took);
        const timespec rest = {pause / 1000, (pause % 1000) * 1000000L};
        nanosleep(&rest, nullptr);
    }
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        printf("median %.1f ms, slowest %.1f ms, %zu of %d seen\n", times[times.size() / 2],
               times.back(), times.size(), count);
    } else {
        printf("none of %d seen within 10 s each\n", count);
    }
    XCloseDisplay(display);
    return int(times.size()) == count ? 0 : 1;
}
