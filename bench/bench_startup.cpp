// Start to the note's text on screen, phase by phase, with real windows on an X display.
//
//   bench_startup [--runs N] note program [program...] [--peers [other-editor...]]
//
// Starts each program on the note N times (5 by default), taking turns, each time to the end,
// and prints the median of each phase in milliseconds from the moment this process started it. The phases
// inside the program are its own start-up trace (QUORVEL_TRACE_STARTUP=1, on standard error,
// wall-clock microseconds); the last one, "painted", is seen from outside: the top of the
// note's column, as the trace reports it once the window is shown, is read back from the X
// server every few milliseconds until it holds dark text (the light theme of fresh settings).
//
// With --peers, every program (the other editors named after it, which have no such trace, and
// the ones before it alike) is also started N more times, in turns with the others, and watched
// the same way from outside only (see watchOutside), so that the figures compare like for like.
//
// The program's environment is this one's: bench/startup.sh sets up the display, a scratch
// settings folder and the rest.

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#ifdef BENCH_STARTUP_XSHM
#include <X11/extensions/XShm.h>
#include <sys/shm.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

long long nowMicros()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

struct Area
{
    Window window = 0;
    int x = 0, y = 0, width = 0, height = 0;
};

// The process group of the program being watched: each is started in a group of its own, which
// an interrupt of this one does not reach, so it is ended here.
volatile sig_atomic_t watchedGroup = 0;

void endWatched(int signal)
{
    if (watchedGroup)
        kill(-watchedGroup, SIGKILL);
    _exit(128 + signal);
}

// A window not yet mapped cannot be read; that is an answer, not an error.
int ignoreXErrors(Display *, XErrorEvent *) { return 0; }

bool painted(Display *display, const Area &area)
{
    // A scroll bar may stand at the right edge before the text does.
    const int width = std::max(area.width - 24, 1);
    XImage *image = XGetImage(display, area.window, area.x, area.y, static_cast<unsigned>(width),
                              static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (!image)
        return false;
    // The note's text is dark on the light theme of fresh settings; the page's own grey word
    // for an empty note, shown until the text arrives, is not. A window not drawn yet is black.
    int dark = 0, light = 0;
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            const unsigned r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
            if (r < 100 && g < 100 && b < 100)
                ++dark;
            else if (r > 200 && g > 200 && b > 200)
                ++light;
        }
    const bool text = dark >= 50 && light >= width * area.height / 2;
    // BENCH_STARTUP_SHOT=file.ppm keeps what was taken for text, to look at.
    if (const char *shot = std::getenv("BENCH_STARTUP_SHOT"); shot && text) {
        if (FILE *out = std::fopen(shot, "wb")) {
            std::fprintf(out, "P6\n%d %d\n255\n", width, area.height);
            for (int y = 0; y < area.height; ++y)
                for (int x = 0; x < width; ++x) {
                    const unsigned long p = XGetPixel(image, x, y);
                    const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                                  static_cast<unsigned char>(p >> 8),
                                                  static_cast<unsigned char>(p)};
                    std::fwrite(rgb, 1, 3, out);
                }
            std::fclose(out);
        }
    }
    XDestroyImage(image);
    // A few dark pixels could be a caret or a focus line; text is many.
    return text;
}

using Phases = std::map<std::string, double>;

// A window's pixels as 0xRRGGBB, row after row.
struct Frame
{
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

// The started program's top-level window: the largest one shown that names the process as its
// own (_NET_WM_PID, which Qt sets on every top-level window).
Window windowOf(Display *display, pid_t pid)
{
    const Atom wmPid = XInternAtom(display, "_NET_WM_PID", True);
    if (wmPid == None)
        return 0;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    Window best = 0;
    long bestArea = 0;
    for (unsigned i = 0; i < count; ++i) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(display, children[i], wmPid, 0, 1, False, XA_CARDINAL, &type, &format,
                               &items, &after, &data) != Success || !data)
            continue;
        const long owner = items == 1 && format == 32 ? *reinterpret_cast<long *>(data) : -1;
        XFree(data);
        XWindowAttributes attributes;
        if (owner != pid || !XGetWindowAttributes(display, children[i], &attributes)
            || attributes.map_state != IsViewable)
            continue;
        const long area = long(attributes.width) * attributes.height;
        if (area > bestArea) {
            best = children[i];
            bestArea = area;
        }
    }
    if (children)
        XFree(children);
    return best;
}

// Reads top-level windows back whole, fast enough to do it every 10 ms beside the program
// watched: through shared memory where the server offers it (a window of 900 by 900 pixels is
// some 30 ms of this process's time through the socket, under a millisecond this way).
class Grabber
{
public:
    explicit Grabber(Display *display) : m_display(display)
    {
#ifdef BENCH_STARTUP_XSHM
        m_shared = XShmQueryExtension(display);
#endif
    }
    Grabber(const Grabber &) = delete;
    Grabber &operator=(const Grabber &) = delete;
    ~Grabber() { release(); }

    // What of the window is on the screen (the part off its edges cannot be read).
    std::optional<Frame> grab(Window window)
    {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_display, window, &attributes) || attributes.map_state != IsViewable)
            return std::nullopt;
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
        const int screen = DefaultScreen(m_display);
        const int width = std::min(attributes.width, DisplayWidth(m_display, screen) - x);
        const int height = std::min(attributes.height, DisplayHeight(m_display, screen) - y);
        if (width <= 0 || height <= 0 || x < 0 || y < 0)
            return std::nullopt;
        XImage *image = read(window, width, height, attributes);
        if (!image)
            return std::nullopt;
        Frame frame{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
        const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst;
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col)
                frame.pixels[size_t(row) * size_t(width) + size_t(col)] =
                    (direct ? reinterpret_cast<const uint32_t *>(image->data + row * image->bytes_per_line)[col]
                            : uint32_t(XGetPixel(image, col, row)))
                    & 0xffffff;
        if (image != m_image)
            XDestroyImage(image);
        return frame;
    }

private:
    XImage *read(Window window, int width, int height, const XWindowAttributes &attributes)
    {
#ifdef BENCH_STARTUP_XSHM
        if (m_shared) {
            if (!m_image || m_image->width != width || m_image->height != height
                || m_image->depth != attributes.depth) {
                release();
                m_image = XShmCreateImage(m_display, attributes.visual, unsigned(attributes.depth),
                                          ZPixmap, nullptr, &m_segment, unsigned(width), unsigned(height));
                if (!m_image)
                    return nullptr;
                m_segment.shmid = shmget(IPC_PRIVATE, size_t(m_image->bytes_per_line) * size_t(height),
                                         IPC_CREAT | 0600);
                m_segment.shmaddr = m_image->data = static_cast<char *>(shmat(m_segment.shmid, nullptr, 0));
                m_segment.readOnly = False;
                XShmAttach(m_display, &m_segment);
                XSync(m_display, False);
                // Gone with the last process attached, this one included.
                shmctl(m_segment.shmid, IPC_RMID, nullptr);
            }
            return XShmGetImage(m_display, window, m_image, 0, 0, AllPlanes) ? m_image : nullptr;
        }
#else
        (void)attributes;
#endif
        return XGetImage(m_display, window, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    }

    void release()
    {
#ifdef BENCH_STARTUP_XSHM
        if (!m_image)
            return;
        XShmDetach(m_display, &m_segment);
        XSync(m_display, False);
        shmdt(m_segment.shmaddr);
        m_image->data = nullptr;
        XDestroyImage(m_image);
        m_image = nullptr;
#endif
    }

    Display *m_display;
    XImage *m_image = nullptr;
#ifdef BENCH_STARTUP_XSHM
    XShmSegmentInfo m_segment{};
    bool m_shared = false;
#endif
};

int luminance(uint32_t p)
{
    return (int((p >> 16) & 0xff) * 3 + int((p >> 8) & 0xff) * 6 + int(p & 0xff)) / 10;
}

// Pixels that differ between two frames of one window; a change of size changes everything.
long changedPixels(const Frame &a, const Frame &b)
{
    if (a.width != b.width || a.height != b.height)
        return long(std::max(a.pixels.size(), b.pixels.size()));
    long n = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        n += a.pixels[i] != b.pixels[i];
    return n;
}

// Whether the window shows a note's text: rows with new ink, that is pixels at a sharp step of
// brightness (the edge of a letter, light on dark or dark on light) where the same window opened
// on an empty note has something else. A window not drawn yet, or drawn in one colour, has no
// steps inside it; the edges of a pane still blank make one row or a pixel per row; the chrome
// is in the empty note's window too. A few lines of text make dozens of such rows.
bool showsText(const Frame &frame, const Frame &empty)
{
    constexpr int step = 64, inkPerRow = 20, rows = 40;
    int inked = 0;
    for (int y = 0; y + 1 < frame.height && inked < rows; ++y) {
        int ink = 0;
        for (int x = 0; x + 1 < frame.width; ++x) {
            const size_t i = size_t(y) * size_t(frame.width) + size_t(x);
            const int here = luminance(frame.pixels[i]);
            if (std::abs(here - luminance(frame.pixels[i + 1])) < step
                && std::abs(here - luminance(frame.pixels[i + size_t(frame.width)])) < step)
                continue;
            if (x < empty.width && y < empty.height
                && empty.pixels[size_t(y) * size_t(empty.width) + size_t(x)] == frame.pixels[i])
                continue;
            ++ink;
        }
        inked += ink >= inkPerRow;
    }
    return inked >= rows;
}

// BENCH_STARTUP_SEEN=folder keeps the frames watchOutside took for "text" and "still", to look at.
void keepFrame(const Frame &frame, const char *program, const char *what)
{
    const char *folder = std::getenv("BENCH_STARTUP_SEEN");
    if (!folder)
        return;
    static int count = 0;
    std::string name = program;
    name = std::string(folder) + "/" + name.substr(name.find_last_of('/') + 1) + "-"
        + std::to_string(++count) + "-" + what + ".ppm";
    FILE *out = std::fopen(name.c_str(), "wb");
    if (!out)
        return;
    std::fprintf(out, "P6\n%d %d\n255\n", frame.width, frame.height);
    for (const uint32_t p : frame.pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                      static_cast<unsigned char>(p >> 8), static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, out);
    }
    std::fclose(out);
}

pid_t startProgram(const char *program, const char *note)
{
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(program, program, note, static_cast<char *>(nullptr));
        _exit(127);
    }
    // Both sides set the group, so that it exists whichever runs first.
    setpgid(child, child);
    watchedGroup = child;
    return child;
}

// Ends the program and whatever it started in its process group (web engine helpers, workers).
void stopProgram(pid_t child)
{
    kill(-child, SIGTERM);
    for (int i = 0; i < 300 && waitpid(child, nullptr, WNOHANG) != child; ++i)
        usleep(10000);
    kill(-child, SIGKILL);
    waitpid(child, nullptr, WNOHANG);
    // Helpers that outlive the main process for a moment are still in the group.
    usleep(100000);
    kill(-child, SIGKILL);
    watchedGroup = 0;
}

// The window holds still: no change larger than a caret's blink (two pixels by a line's height,
// and a little more for a caret drawn wider) for half a second.
constexpr long caretPixels = 150;
constexpr long long stillMicros = 500000;

// The window of the program started on an empty note, once it holds still: its chrome, against
// which watchOutside tells the note's text.
std::optional<Frame> emptyWindow(Display *display, Grabber &grabber, const char *program, const char *empty)
{
    const long long start = nowMicros();
    const pid_t child = startProgram(program, empty);
    std::optional<Frame> last;
    long long lastChange = 0;
    std::optional<Frame> result;
    while (nowMicros() - start < 30 * 1000000LL) {
        usleep(20000);
        if (waitpid(child, nullptr, WNOHANG) == child)
            break;
        const Window window = windowOf(display, child);
        if (!window)
            continue;
        auto frame = grabber.grab(window);
        if (!frame)
            continue;
        if (!last || changedPixels(*last, *frame) > caretPixels)
            lastChange = nowMicros();
        last = std::move(frame);
        // Still for a second, twice what a note's window is given: the chrome as it stays, not a
        // picture on the way to it.
        if (nowMicros() - lastChange > 2 * stillMicros) {
            result = std::move(last);
            break;
        }
    }
    stopProgram(child);
    return result;
}

// Start to the note's text on the screen, seen the same way for any program: its top-level
// window is read back whole every 10 ms. "window" is when it is first shown; "text" the first
// moment from which on it shows the note's text (showsText); "still" the last change larger
// than a caret's blink before it held still for half a second (the moment, not the end of the
// wait): what the window draws at the start without a pause that long (panes, counts, a
// preview) is done by then; a pane filled after a longer pause comes after it.
std::optional<Phases> watchOutside(Display *display, Grabber &grabber, const char *program,
                                   const char *note, const Frame &empty)
{
    const long long start = nowMicros();
    const pid_t child = startProgram(program, note);
    Phases phases;
    std::optional<Frame> last, firstText;
    long long lastChange = 0, textSince = 0;
    Window window = 0;
    while (nowMicros() - start < 60 * 1000000LL) {
        usleep(10000);
        if (waitpid(child, nullptr, WNOHANG) == child) {
            std::fprintf(stderr, "bench_startup: %s ended before its text was shown\n", program);
            kill(-child, SIGKILL);
            watchedGroup = 0;
            return std::nullopt;
        }
        if (!window) {
            window = windowOf(display, child);
            if (!window)
                continue;
            phases["window"] = (nowMicros() - start) / 1000.0;
        }
        auto frame = grabber.grab(window);
        const long long now = nowMicros();
        if (!frame)
            continue;
        if (!last || changedPixels(*last, *frame) > caretPixels) {
            lastChange = now;
            // The frame only tells anew whether there is text where it has changed.
            if (!showsText(*frame, empty)) {
                textSince = 0;
            } else if (!textSince) {
                textSince = now;
                firstText = frame;
            }
        }
        last = std::move(frame);
        if (textSince && now - lastChange >= stillMicros) {
            phases["text"] = (textSince - start) / 1000.0;
            phases["still"] = (lastChange - start) / 1000.0;
            keepFrame(*firstText, program, "text");
            keepFrame(*last, program, "still");
            break;
        }
    }
    stopProgram(child);
    if (!phases.count("still")) {
        std::fprintf(stderr, "bench_startup: %s: no text held still on screen within 60 s\n", program);
        return std::nullopt;
    }
    return phases;
}

std::optional<Phases> runOnce(Display *display, const char *program, const char *note,
                              std::vector<std::string> &order)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return std::nullopt;
    const long long start = nowMicros();
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execl(program, program, note, static_cast<char *>(nullptr));
        _exit(127);
    }
    // Both sides set the group, so that it exists whichever runs first.
    setpgid(child, child);
    watchedGroup = child;
    close(pipeEnds[1]);
    fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);

    Phases phases;
    std::optional<Area> area;
    std::string pending;
    const long long deadline = start + 30 * 1000000LL;
    bool open = true;
    while (nowMicros() < deadline) {
        pollfd fd{pipeEnds[0], POLLIN, 0};
        poll(&fd, open ? 1 : 0, 3);
        char buffer[4096];
        ssize_t got = 0;
        while (open && (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
            pending.append(buffer, static_cast<size_t>(got));
        if (got == 0)
            open = false;
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::istringstream line(pending.substr(0, end));
            pending.erase(0, end + 1);
            std::string tag, phase;
            long long at = 0;
            if (!(line >> tag >> phase >> at) || tag != "quorvel-startup")
                continue;
            phases[phase] = (at - start) / 1000.0;
            if (std::find(order.begin(), order.end(), phase) == order.end())
                order.push_back(phase);
            Area seen;
            if (phase == "shown" && line >> seen.window >> seen.x >> seen.y >> seen.width >> seen.height)
                area = seen;
        }
        if (area && painted(display, *area)) {
            phases["painted"] = (nowMicros() - start) / 1000.0;
            break;
        }
        if (waitpid(child, nullptr, WNOHANG) == child) {
            std::fprintf(stderr, "bench_startup: the program ended before its text was shown\n");
            kill(-child, SIGKILL);
            watchedGroup = 0;
            close(pipeEnds[0]);
            return std::nullopt;
        }
    }
    // Let it settle its own start (the spare page, the index) no further: the next run starts
    // afresh.
    kill(-child, SIGTERM);
    for (int i = 0; i < 300 && waitpid(child, nullptr, WNOHANG) != child; ++i)
        usleep(10000);
    kill(-child, SIGKILL);
    waitpid(child, nullptr, 0);
    // The engine's helpers are in the same group.
    kill(-child, SIGKILL);
    watchedGroup = 0;
    close(pipeEnds[0]);
    if (!phases.count("painted")) {
        std::fprintf(stderr, "bench_startup: no text on screen within 30 s\n");
        return std::nullopt;
    }
    return phases;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void report(const char *program, const std::vector<Phases> &results, std::vector<std::string> order)
{
    order.push_back("painted");
    std::vector<std::pair<double, std::string>> rows;
    for (const std::string &phase : order) {
        std::vector<double> values;
        for (const Phases &run : results)
            if (auto it = run.find(phase); it != run.end())
                values.push_back(it->second);
        if (!values.empty())
            rows.emplace_back(median(values), phase);
    }
    std::sort(rows.begin(), rows.end());
    // The step from the phase before, taken within each run: a start slowed as a whole by a
    // busy machine moves every phase, not the steps between them.
    std::printf("%s\n%-14s %7s %7s %7s %7s   (ms from the program's start, %zu runs)\n", program,
                "phase", "median", "min", "max", "step", results.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string &phase = rows[i].second;
        std::vector<double> values, steps;
        for (const Phases &run : results) {
            const auto it = run.find(phase);
            if (it == run.end())
                continue;
            values.push_back(it->second);
            if (i == 0)
                continue;
            if (const auto before = run.find(rows[i - 1].second); before != run.end())
                steps.push_back(it->second - before->second);
        }
        std::printf("%-14s %7.0f %7.0f %7.0f", phase.c_str(), rows[i].first,
                    *std::min_element(values.begin(), values.end()),
                    *std::max_element(values.begin(), values.end()));
        if (steps.empty())
            std::printf("\n");
        else
            std::printf(" %7.0f\n", median(steps));
    }
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    // The programs with the trace, then (after --peers) those without it.
    std::vector<const char *> traced, peers;
    bool outside = false;
    for (int i = first + 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--peers") == 0)
            outside = true;
        else
            (outside ? peers : traced).push_back(argv[i]);
    }
    if (argc - first < 2 || (traced.empty() && peers.empty())) {
        std::fprintf(stderr, "usage: bench_startup [--runs N] note program [program...] [--peers [other-editor...]]\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_startup: no X display (DISPLAY)\n");
        return 2;
    }
    XSetErrorHandler(&ignoreXErrors);
    setenv("QUORVEL_TRACE_STARTUP", "1", 1);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, endWatched);

    // Several programs take turns, so that a busy moment of the machine falls on all of them.
    const char *note = argv[first];
    const size_t programs = traced.size();
    std::vector<std::vector<std::string>> order(programs);
    std::vector<std::vector<Phases>> results(programs);

    // Seen from outside, each program's window is told from its chrome by the same program's
    // window on an empty note, in the note's folder.
    std::vector<const char *> watched;
    std::vector<Frame> empties;
    // Its shared memory is let go while the display is still open.
    auto grabber = std::make_unique<Grabber>(display);
    if (outside) {
        std::string empty = note;
        empty = empty.substr(0, empty.find_last_of('/') + 1) + "empty-XXXXXX.md";
        const int fd = mkstemps(empty.data(), 3);
        if (fd < 0) {
            std::fprintf(stderr, "bench_startup: cannot make an empty note beside %s\n", note);
            return 2;
        }
        close(fd);
        std::vector<const char *> all = traced;
        all.insert(all.end(), peers.begin(), peers.end());
        for (const char *program : all) {
            if (auto frame = emptyWindow(display, *grabber, program, empty.c_str())) {
                watched.push_back(program);
                empties.push_back(std::move(*frame));
            } else {
                std::fprintf(stderr, "bench_startup: %s showed no window that held still on an empty note\n", program);
            }
            usleep(500000);
        }
        unlink(empty.c_str());
    }
    std::vector<std::vector<Phases>> seen(watched.size());

    for (int i = 0; i < runs; ++i) {
        for (size_t p = 0; p < programs; ++p) {
            if (auto phases = runOnce(display, traced[p], note, order[p]))
                results[p].push_back(*phases);
            usleep(500000);
        }
        for (size_t p = 0; p < watched.size(); ++p) {
            if (auto phases = watchOutside(display, *grabber, watched[p], note, empties[p]))
                seen[p].push_back(*phases);
            usleep(500000);
        }
    }
    int status = 0;
    for (size_t p = 0; p < programs; ++p) {
        if (results[p].empty())
            status = 1;
        else
            report(traced[p], results[p], order[p]);
    }
    if (outside) {
        int width = 28;
        for (const char *program : watched)
            width = std::max(width, int(std::strlen(program)));
        std::printf("seen from outside, alike for every program: median (least-most) ms from its start\n"
                    "%-*s %-18s %-18s %-18s %s\n", width, "program", "window", "text", "still", "runs");
        for (size_t p = 0; p < watched.size(); ++p) {
            std::printf("%-*s", width, watched[p]);
            for (const char *phase : {"window", "text", "still"}) {
                std::vector<double> values;
                for (const Phases &run : seen[p])
                    values.push_back(run.at(phase));
                if (values.empty()) {
                    std::printf(" %-18s", "-");
                    continue;
                }
                char cell[64];
                std::snprintf(cell, sizeof cell, "%.0f (%.0f-%.0f)", median(values),
                              *std::min_element(values.begin(), values.end()),
                              *std::max_element(values.begin(), values.end()));
                std::printf(" %-18s", cell);
            }
            std::printf(" %zu of %d\n", seen[p].size(), runs);
        }
    }
    grabber.reset();
    XCloseDisplay(display);
    return status;
}
