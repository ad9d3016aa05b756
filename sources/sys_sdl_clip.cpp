#include "sys_sdl_clip.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <chrono>
#include <climits>

#include "keyboard.h"
#include "sys_core.h"
#include "sys_sdl_console.h"
#include "sys_type.h"

constexpr int CLIP_WAIT_MS = 1000; // for the owner of a selection to answer

static struct {
    Display *display;
    Window window;
    Atom clipboard, utf8, targets, text, incr, property;
    std::string owned; // offered as the clipboard while we own it
} clip;

static bool connect() {
    if (clip.display) return true;
    clip.display = XOpenDisplay(nullptr);
    if (!clip.display) return false;
    clip.window =
        XCreateSimpleWindow(clip.display, DefaultRootWindow(clip.display), 0, 0, 1, 1, 0, 0, 0);
    clip.clipboard = XInternAtom(clip.display, "CLIPBOARD", False);
    clip.utf8 = XInternAtom(clip.display, "UTF8_STRING", False);
    clip.targets = XInternAtom(clip.display, "TARGETS", False);
    clip.text = XInternAtom(clip.display, "TEXT", False);
    clip.incr = XInternAtom(clip.display, "INCR", False);
    clip.property = XInternAtom(clip.display, "KESTREL_PASTE", False);
    return true;
}

// One request for our clipboard, answered by the rules every X client keeps:
// the text in the property asked for, or a refusal (property None).
static void answer(const XSelectionRequestEvent &req) {
    XSelectionEvent reply = {};
    reply.type = SelectionNotify;
    reply.display = req.display;
    reply.requestor = req.requestor;
    reply.selection = req.selection;
    reply.target = req.target;
    reply.time = req.time;
    reply.property = req.property == None ? req.target : req.property;
    if (req.selection != clip.clipboard || clip.owned.empty()) {
        reply.property = None;
    } else if (req.target == clip.targets) {
        Atom offered[] = {clip.targets, clip.utf8, XA_STRING, clip.text};
        XChangeProperty(clip.display, req.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char *>(offered), 4);
    } else if (req.target == clip.utf8 || req.target == XA_STRING || req.target == clip.text) {
        XChangeProperty(clip.display, req.requestor, reply.property,
                        req.target == clip.text ? clip.utf8 : req.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(clip.owned.data()),
                        static_cast<int>(clip.owned.size()));
    } else {
        reply.property = None;
    }
    XSendEvent(clip.display, req.requestor, False, 0, reinterpret_cast<XEvent *>(&reply));
}

int sys_sdl_clip_poll() {
    if (!clip.display) return 0;
    while (XPending(clip.display)) {
        XEvent ev;
        XNextEvent(clip.display, &ev);
        if (ev.type == SelectionRequest) answer(ev.xselectionrequest);
        if (ev.type == SelectionClear) clip.owned.clear();
    }
    XFlush(clip.display);
    return 0;
}

int sys_sdl_clip_own(const std::string &text) {
    if (!connect()) return 1;
    XSetSelectionOwner(clip.display, clip.clipboard, clip.window, CurrentTime);
    if (XGetSelectionOwner(clip.display, clip.clipboard) != clip.window) return 1;
    clip.owned = text;
    XFlush(clip.display);
    return 0;
}

int sys_sdl_clip_read(bool primary, std::string *text, std::string *why) {
    if (!connect()) return *why = "no X display", 1;
    Atom selection = primary ? XA_PRIMARY : clip.clipboard;
    Window owner = XGetSelectionOwner(clip.display, selection);
    if (owner == None) return *why = primary ? "nothing selected" : "the clipboard is empty", 1;
    if (owner == clip.window) return *text = clip.owned, 0;
    XConvertSelection(clip.display, selection, clip.utf8, clip.property, clip.window, CurrentTime);
    XFlush(clip.display);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(CLIP_WAIT_MS);
    XEvent ev;
    while (!XCheckTypedWindowEvent(clip.display, clip.window, SelectionNotify, &ev)) {
        if (std::chrono::steady_clock::now() > until) return *why = "no answer from its owner", 1;
        usleep(2000);
    }
    if (ev.xselection.property == None) return *why = "it holds no text", 1;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    XGetWindowProperty(clip.display, clip.window, clip.property, 0, LONG_MAX / 4, True,
                       AnyPropertyType, &type, &format, &count, &after, &data);
    bool ok = data && format == 8 && type != clip.incr;
    if (ok) text->assign(reinterpret_cast<char *>(data), count);
    if (data) XFree(data);
    // A transfer in pieces is for more text than anyone types.
    if (!ok) return *why = type == clip.incr ? "too much text" : "it holds no text", 1;
    return 0;
}

int sys_sdl_clip_close() {
    if (!clip.display) return 0;
    XDestroyWindow(clip.display, clip.window);
    XCloseDisplay(clip.display);
    clip.display = nullptr;
    clip.owned.clear();
    return 0;
}

int sys_sdl_clip_type(const std::string &text) {
    std::string keys;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        keys += c == '\r' ? '\n' : c == '\t' ? ' ' : c;
    }
    // The chord that pasted is still held: its Shift or Ctrl would change
    // the typed keys. Queued behind its own presses, these let go of them
    // before the first typed key; its release later lets go of nothing.
    for (uint8_t cell : {KEY_LSHIFT, KEY_RSHIFT, KEY_LCTRL, KEY_RCTRL})
        push_event({EV_KEY_UP, cell});
    machine_guard hold;
    return sys_type_start(keys.c_str(), -1);
}

int sys_sdl_clip_paste(bool primary) {
    std::string text, why;
    if (sys_sdl_clip_read(primary, &text, &why) != 0) {
        SDLCON_Log("nothing to paste: %s", why.c_str());
        return 1;
    }
    if (SDLCON_Visible()) return SDLCON_Paste(text.c_str());
    return sys_sdl_clip_type(text);
}
