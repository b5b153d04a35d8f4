// Starts a program and reports how long it takes until its first frame is on the screen: the
// time from exec until the root window's pixel (X, Y) shows the colour RRGGBB, polled every
// millisecond. The program is then stopped with SIGTERM.
// Usage: first_frame X Y RRGGBB PROGRAM [ARG...]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s X Y RRGGBB PROGRAM [ARG...]\n", argv[0]);
        return 2;
    }
    const int x = std::atoi(argv[1]);
    const int y = std::atoi(argv[2]);
    const unsigned long want = std::strtoul(argv[3], nullptr, 16);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[4], argv + 4);
        _exit(127);
    }
    int status = 1;
    for (int i = 0; i < 20000; ++i) {
        XImage* image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
        const unsigned long pixel = image != nullptr ? XGetPixel(image, 0, 0) & 0xFFFFFF : 0;
        if (image != nullptr) XDestroyImage(image);
        if (pixel == want) {
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            std::printf("%.0f\n", took.count());
            status = 0;
            break;
        }
        if (waitpid(child, nullptr, WNOHANG) == child) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    XCloseDisplay(display);
    if (status != 0) std::fprintf(stderr, "the pixel never showed %06lx\n", want);
    return status;
}
