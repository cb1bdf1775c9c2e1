// Start to the note's text on screen, phase by phase, with real windows on an X display.
//
//   bench_startup [--runs N] note program [program...]
//
// Starts each program on the note N times (5 by default), taking turns, each time to the end,
// and prints the median of each phase in milliseconds from the moment this process started it. The phases
// inside the program are its own start-up trace (QUORVEL_TRACE_STARTUP=1, on standard error,
// wall-clock microseconds); the last one, "painted", is seen from outside: the top of the
// note's column, as the trace reports it once the window is shown, is read back from the X
// server every few milliseconds until it holds dark text (the light theme of fresh settings).
//
// The program's environment is this one's: bench/startup.sh sets up the display, a scratch
// settings folder and the rest.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
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
    if (argc - first < 2) {
        std::fprintf(stderr, "usage: bench_startup [--runs N] note program [program...]\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_startup: no X display (DISPLAY)\n");
        return 2;
    }
    XSetErrorHandler(&ignoreXErrors);
    setenv("QUORVEL_TRACE_STARTUP", "1", 1);

    // Several programs take turns, so that a busy moment of the machine falls on all of them.
    const char *note = argv[first];
    const int programs = argc - first - 1;
    std::vector<std::vector<std::string>> order(programs);
    std::vector<std::vector<Phases>> results(programs);
    for (int i = 0; i < runs; ++i) {
        for (int p = 0; p < programs; ++p) {
            if (auto phases = runOnce(display, argv[first + 1 + p], note, order[p]))
                results[p].push_back(*phases);
            usleep(500000);
        }
    }
    int status = 0;
    for (int p = 0; p < programs; ++p) {
        if (results[p].empty())
            status = 1;
        else
            report(argv[first + 1 + p], results[p], order[p]);
    }
    XCloseDisplay(display);
    return status;
}
