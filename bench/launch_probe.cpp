// Starts a program on the current X display and reports when its windows appear, for
// bench/desktop.sh. It watches the root window for top-level windows being mapped (tray icons
// and other windows under 100 x 100 do not count) and measures from just before exec.
//
//   velloa-bench-launch [--answer-dialog] -- PROGRAM [ARGS...]
//
// Prints one line: "first_window_ms=T1 pid=P", or with --answer-dialog
// "first_window_ms=T1 second_window_ms=T2 pid=P": the first window is taken for a modal
// question and answered with the Return key the moment it maps, and T2 is when the next window
// maps, less the time the answer took to send (so T2 is the program's own time). The program
// keeps running after this exits, its output going to this probe's standard error; the caller
// ends it.
#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMinSide = 100;
constexpr int kTimeoutMs = 60000;
constexpr xcb_keysym_t kReturnKeysym = 0xff0d;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::optional<xcb_keycode_t> keycodeFor(xcb_connection_t* connection, xcb_keysym_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, uint8_t(count)),
        nullptr);
    if (!reply)
        return std::nullopt;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perCode = reply->keysyms_per_keycode;
    std::optional<xcb_keycode_t> found;
    for (int code = 0; code < count && !found; ++code) {
        for (int k = 0; k < perCode; ++k) {
            if (syms[code * perCode + k] == keysym) {
                found = xcb_keycode_t(first + code);
                break;
            }
        }
    }
    std::free(reply);
    return found;
}

// A round trip: everything sent before has reached the server when this returns.
void syncWith(xcb_connection_t* connection) {
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

// A key press and release sent straight to the window, so no focus or window manager is needed.
void sendKey(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window,
             xcb_keycode_t keycode) {
    for (const uint8_t type : {uint8_t(XCB_KEY_PRESS), uint8_t(XCB_KEY_RELEASE)}) {
        xcb_key_press_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = type;
        event.detail = keycode;
        event.root = root;
        event.event = window;
        event.child = XCB_NONE;
        event.same_screen = 1;
        event.time = XCB_CURRENT_TIME;
        xcb_send_event(connection, 1, window, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE,
                       reinterpret_cast<const char*>(&event));
    }
    syncWith(connection);
}

} // namespace

int main(int argc, char** argv) {
    bool answerDialog = false;
    int programAt = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--answer-dialog") == 0) {
            answerDialog = true;
        } else if (std::strcmp(argv[i], "--") == 0) {
            programAt = i + 1;
            break;
        }
    }
    if (programAt < 0 || programAt >= argc) {
        std::fprintf(stderr, "usage: velloa-bench-launch [--answer-dialog] -- PROGRAM [ARGS...]\n");
        return 2;
    }

    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "velloa-bench-launch: cannot open the X display\n");
        return 2;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    const std::optional<xcb_keycode_t> returnKey = keycodeFor(connection, kReturnKeysym);
    if (answerDialog && !returnKey) {
        std::fprintf(stderr, "velloa-bench-launch: the keyboard has no Return key\n");
        return 2;
    }
    // The watch must be in place before the program can map anything.
    syncWith(connection);

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("velloa-bench-launch: fork");
        return 2;
    }
    if (child == 0) {
        // The caller reads this probe's output until it closes: the program must not hold it.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(argv[programAt], argv + programAt);
        std::perror("velloa-bench-launch: exec");
        _exit(127);
    }

    std::optional<double> first;
    double answerCost = 0;
    pollfd watch{xcb_get_file_descriptor(connection), POLLIN, 0};
    while (msSince(start) < kTimeoutMs) {
        xcb_generic_event_t* event = xcb_poll_for_event(connection);
        if (!event) {
            if (xcb_connection_has_error(connection))
                break;
            poll(&watch, 1, 100);
            continue;
        }
        const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
        const xcb_window_t window = mapped && !map->override_redirect ? map->window : XCB_NONE;
        std::free(event);
        if (window == XCB_NONE)
            continue;
        const double at = msSince(start);
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
        const bool large = geometry && geometry->width >= kMinSide && geometry->height >= kMinSide;
        std::free(geometry);
        if (!large)
            continue;
        if (!first) {
            first = at;
            if (!answerDialog) {
                std::printf("first_window_ms=%.1f pid=%d\n", at, int(child));
                return 0;
            }
            const Clock::time_point answering = Clock::now();
            sendKey(connection, root, window, *returnKey);
            answerCost = msSince(answering);
            continue;
        }
        std::printf("first_window_ms=%.1f second_window_ms=%.1f pid=%d\n", *first, at - answerCost,
                    int(child));
        return 0;
    }
    std::fprintf(stderr, "velloa-bench-launch: no %s window within %d s\n",
                 first ? "second" : "", kTimeoutMs / 1000);
    kill(child, SIGTERM);
    return 1;
}
