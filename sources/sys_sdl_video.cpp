#include "sys_sdl_video.h"

#include <SDL/SDL.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "log.h"
#include "sys_core.h"
#include "sys_data.h"
#include "sys_sdl_console.h"
#include "vdc.h"

constexpr int VIDEO_BPP = 32;
constexpr int VIDEO_BYTES_PER_PIXEL = VIDEO_BPP / 8;
constexpr Uint32 VIDEO_FLAGS = SDL_HWPALETTE | SDL_DOUBLEBUF;
constexpr int VIDEO_PICTURE = VDC_WIDTH * VDC_HEIGHT;

// The picture handed from the timer thread to the main thread. A frame
// replaces the one before whether or not it was shown: the window shows the
// newest picture, never a queue of old ones.
static struct {
    std::mutex lock;
    uint32_t pixels[VIDEO_PICTURE];
    uint32_t number; // frames posted; 0: none yet
    bool open;       // a window takes the pictures
    std::string title;
    bool new_title;
} mailbox;

static std::atomic<bool> machine_stopped;

// The main thread's side.
static struct {
    SDL_Surface *surface; // lives from a successful init to finish
    uint32_t shown[VIDEO_PICTURE];
    uint32_t shown_number;
    int zoom;               // the level the window was last sized for
    int window_w, window_h; // the window's size outside fullscreen
    int screen_w, screen_h; // the desktop, for fullscreen
    bool fullscreen;
    std::string message;
    std::string (*live)(); // when set, the message's text at each drawing
    uint32_t message_at;
    bool has_message;
    // The console font as lit dots: font_w x font_h per glyph, 256 glyphs.
    std::vector<uint8_t> font;
    int font_w, font_h;
    bool font_tried;
} video_sdl;

// A picture value holds red in its low byte; the host pixel wants blue,
// green, red in its bytes 0 to 2. As a native word:
static constexpr bool LITTLE = std::endian::native == std::endian::little;

static inline uint32_t to_host(uint32_t v) {
    const uint32_t r = v & 0xFF, g = (v >> 8) & 0xFF, b = (v >> 16) & 0xFF;
    return LITTLE ? (r << 16 | g << 8 | b) : (b << 24 | g << 16 | r << 8);
}

video_fit video_sdl_fit(int w, int h) {
    int scale = std::max(1, std::min(w / VDC_WIDTH, h / VDC_HEIGHT));
    return {scale, (w - scale * VDC_WIDTH) / 2, (h - scale * VDC_HEIGHT) / 2};
}

void video_sdl_zoom_size(int level, int *w, int *h) {
    *w = level ? 2 * VDC_WIDTH : VDC_WIDTH;
    *h = level ? 2 * VDC_HEIGHT : VDC_HEIGHT;
}

// Opens (or resizes) the window; the surface pointer may change.
static SDL_Surface *set_mode(int w, int h, bool fullscreen) {
    Uint32 flags = VIDEO_FLAGS | (fullscreen ? SDL_FULLSCREEN : SDL_RESIZABLE);
    SDL_Surface *s = SDL_SetVideoMode(w, h, VIDEO_BPP, flags);
    if (!s) {
        log_error("unable to set %d x %d x 32bpp video: %s", w, h, SDL_GetError());
        return nullptr;
    }
    // Pictures are written as 4-byte words: refuse anything else rather
    // than write past a row.
    if (s->format->BytesPerPixel != VIDEO_BYTES_PER_PIXEL) {
        log_error("unable to set %d x %d x 32bpp video: got %d x %d x %dbpp", w, h, s->w, s->h,
                  s->format->BitsPerPixel);
        return nullptr;
    }
    video_sdl.surface = s;
    video->surface = s;
    return s;
}

int video_sdl_init() {
    assert(video && "sources/sys_sdl_video");
    XInitThreads();
    int w, h;
    video_sdl_zoom_size(video->zoom, &w, &h);
    // A failed open leaves nothing to draw on, whatever an earlier one left.
    video_sdl.surface = nullptr;
    video->surface = nullptr;
    video->update = nullptr;
    {
        std::lock_guard<std::mutex> hold(mailbox.lock);
        mailbox.open = false;
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        log_error("unable to set %d x %d x 32bpp video: %s", w, h, SDL_GetError());
        return 1;
    }
    // Before any mode is set, the current mode is the desktop's.
    const SDL_VideoInfo *info = SDL_GetVideoInfo();
    video_sdl.screen_w = info && info->current_w > 0 ? info->current_w : 2 * w;
    video_sdl.screen_h = info && info->current_h > 0 ? info->current_h : 2 * h;
    video_sdl.fullscreen = false;
    if (!set_mode(w, h, false)) {
        video->surface = nullptr;
        video_sdl.surface = nullptr;
        return 1;
    }
    SDL_WM_SetCaption(VIDEO_SDL_TITLE, nullptr);
    video_sdl.window_w = w;
    video_sdl.window_h = h;
    video_sdl.zoom = video->zoom;
    video_sdl.shown_number = 0;
    video_sdl.has_message = false;
    video_sdl.font_tried = false; // the font setting may have changed
    video_sdl.font.clear();
    std::fill(std::begin(video_sdl.shown), std::end(video_sdl.shown), 0u);
    {
        std::lock_guard<std::mutex> hold(mailbox.lock);
        mailbox.number = 0;
        mailbox.new_title = false;
        mailbox.open = true;
    }
    video->update = video_sdl_update;
    SDL_FillRect(video_sdl.surface, nullptr, 0);
    return 0;
}

int32_t video_sdl_update() {
    int32_t r = 0;
    if (video->render) r = video->render();
    if (r) return r;
    {
        // Without a window the machine still runs; nothing is handed on.
        std::lock_guard<std::mutex> hold(mailbox.lock);
        if (mailbox.open) {
            std::copy(video->pixels, video->pixels + VIDEO_PICTURE, mailbox.pixels);
            mailbox.number++;
        }
    }
    video->zoom = zoom;
    return 0;
}

int video_sdl_title(const char *text) {
    std::lock_guard<std::mutex> hold(mailbox.lock);
    mailbox.title = text;
    mailbox.new_title = true;
    return 0;
}

int video_sdl_paused(int stopped) {
    machine_stopped = stopped != 0;
    return 0;
}

// The picture at the window's fit: zoom 1 lights the top-left part of each
// square (at least one host pixel), the other levels all of it. Rows and
// columns outside the surface are not written.
static void draw_picture(SDL_Surface *s, int level) {
    const video_fit fit = video_sdl_fit(s->w, s->h);
    const int k = fit.scale, dot = level == 1 ? (k + 1) / 2 : k;
    std::vector<uint32_t> row(static_cast<size_t>(VDC_WIDTH) * k, 0);
    const int x0 = std::max(0, fit.x), x1 = std::min(s->w, fit.x + VDC_WIDTH * k);
    if (x1 <= x0) return;
    auto *pixels = static_cast<uint8_t *>(s->pixels);
    for (int y = 0; y < VDC_HEIGHT; ++y) {
        const uint32_t *src = video_sdl.shown + y * VDC_WIDTH;
        for (int x = 0; x < VDC_WIDTH; ++x) {
            const uint32_t h = to_host(src[x]);
            for (int i = 0; i < dot; ++i)
                row[x * k + i] = h;
        }
        for (int i = 0; i < dot; ++i) {
            const int hy = fit.y + y * k + i;
            if (hy < 0 || hy >= s->h) continue;
            auto *out = reinterpret_cast<uint32_t *>(pixels + hy * s->pitch);
            std::copy(row.begin() + (x0 - fit.x), row.begin() + (x1 - fit.x), out + x0);
        }
    }
}

// The console font (white on magenta) as lit dots, read once; without it
// messages are not drawn.
static void load_font() {
    if (video_sdl.font_tried) return;
    video_sdl.font_tried = true;
    SDL_Surface *bmp = SDL_LoadBMP(sys_data_path(SDLCON_FontFile()).c_str());
    if (!bmp) return;
    SDL_Surface *rgb =
        SDL_CreateRGBSurface(SDL_SWSURFACE, bmp->w, bmp->h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    if (rgb && bmp->w >= 256) {
        SDL_BlitSurface(bmp, nullptr, rgb, nullptr);
        video_sdl.font_w = bmp->w / 256;
        video_sdl.font_h = bmp->h;
        video_sdl.font.assign(static_cast<size_t>(bmp->w) * bmp->h, 0);
        for (int y = 0; y < bmp->h; ++y)
            for (int x = 0; x < bmp->w; ++x) {
                uint32_t p = *reinterpret_cast<uint32_t *>(static_cast<uint8_t *>(rgb->pixels) +
                                                           y * rgb->pitch + x * 4);
                video_sdl.font[y * bmp->w + x] = (p & 0xFFFFFF) != 0xFF00FF;
            }
    }
    if (rgb) SDL_FreeSurface(rgb);
    SDL_FreeSurface(bmp);
}

// Lines of text in a black box at (x, y) of the surface, each dot k x k.
static void draw_box(SDL_Surface *s, const std::string &text, int x, int y, int k) {
    const int cw = video_sdl.font_w * k, ch = video_sdl.font_h * k, pad = 3 * k;
    std::vector<std::string> lines;
    for (size_t start = 0; start <= text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    size_t widest = 0;
    for (const std::string &line : lines)
        widest = std::max(widest, line.size());
    SDL_Rect box = {static_cast<Sint16>(x), static_cast<Sint16>(y),
                    static_cast<Uint16>(std::min<int>(s->w, widest * cw + 2 * pad)),
                    static_cast<Uint16>(lines.size() * ch + 2 * pad)};
    SDL_FillRect(s, &box, 0);
    const uint32_t white = SDL_MapRGB(s->format, 0xFF, 0xFF, 0xFF);
    const int row_w = 256 * video_sdl.font_w;
    for (size_t n = 0; n < lines.size(); ++n)
        for (size_t i = 0; i < lines[n].size(); ++i) {
            const auto c = static_cast<uint8_t>(lines[n][i]);
            for (int gy = 0; gy < video_sdl.font_h; ++gy)
                for (int gx = 0; gx < video_sdl.font_w; ++gx) {
                    if (!video_sdl.font[gy * row_w + c * video_sdl.font_w + gx]) continue;
                    SDL_Rect dot = {static_cast<Sint16>(x + pad + i * cw + gx * k),
                                    static_cast<Sint16>(y + pad + n * ch + gy * k),
                                    static_cast<Uint16>(k), static_cast<Uint16>(k)};
                    SDL_FillRect(s, &dot, white);
                }
        }
}

constexpr const char *PAUSED_TEXT = "paused: F1, then c, goes on\nF12 resets and runs";

// The pause notice at the top of the picture while the machine stands, the
// last message at its foot while it lasts.
static void draw_messages(SDL_Surface *s, uint32_t now) {
    const char *message = video_sdl_message(now);
    const bool paused = machine_stopped;
    if (!*message && !paused) return;
    load_font();
    if (video_sdl.font.empty()) return;
    const video_fit fit = video_sdl_fit(s->w, s->h);
    const int k = std::max(1, fit.scale / 2), x = std::max(0, fit.x) + 4 * k;
    if (paused) draw_box(s, PAUSED_TEXT, x, std::max(0, fit.y) + 4 * k, k);
    if (*message) {
        int lines = 1 + static_cast<int>(std::count(message, message + strlen(message), '\n'));
        int y = std::min(s->h, fit.y + VDC_HEIGHT * fit.scale) - 4 * k -
                lines * video_sdl.font_h * k - 6 * k;
        draw_box(s, message, x, std::max(0, y), k);
    }
}

int video_sdl_present() {
    std::string title;
    bool new_title;
    {
        std::lock_guard<std::mutex> hold(mailbox.lock);
        new_title = mailbox.new_title;
        mailbox.new_title = false;
        title.swap(mailbox.title);
        if (video_sdl.surface && mailbox.number != video_sdl.shown_number) {
            std::copy(std::begin(mailbox.pixels), std::end(mailbox.pixels), video_sdl.shown);
            video_sdl.shown_number = mailbox.number;
        }
    }
    if (new_title) SDL_WM_SetCaption(title.c_str(), nullptr);
    if (!video_sdl.surface) return 0;
    const int level = zoom;
    if (level != video_sdl.zoom) {
        video_sdl.zoom = level;
        video_sdl_zoom_size(level, &video_sdl.window_w, &video_sdl.window_h);
        if (!video_sdl.fullscreen && !set_mode(video_sdl.window_w, video_sdl.window_h, false))
            return 0;
    }
    SDL_Surface *s = video_sdl.surface;
    SDL_FillRect(s, nullptr, 0);
    draw_picture(s, level);
    if (video->overlay) video->overlay();
    draw_messages(s, SDL_GetTicks());
    SDL_Flip(s);
    return 0;
}

int video_sdl_resize(int w, int h) {
    if (!video_sdl.surface || video_sdl.fullscreen) return 0;
    w = std::max(w, VDC_WIDTH);
    h = std::max(h, VDC_HEIGHT);
    if (w == video_sdl.surface->w && h == video_sdl.surface->h) return 0;
    video_sdl.window_w = w;
    video_sdl.window_h = h;
    set_mode(w, h, false);
    return 0;
}

int video_sdl_fullscreen(int on) {
    if (!video_sdl.surface || video_sdl.fullscreen == (on != 0)) return 0;
    const int w = on ? video_sdl.screen_w : video_sdl.window_w;
    const int h = on ? video_sdl.screen_h : video_sdl.window_h;
    if (!set_mode(w, h, on != 0)) {
        // Back to the mode that worked; the window stays as it was.
        set_mode(video_sdl.fullscreen ? video_sdl.screen_w : video_sdl.window_w,
                 video_sdl.fullscreen ? video_sdl.screen_h : video_sdl.window_h,
                 video_sdl.fullscreen);
        return 1;
    }
    video_sdl.fullscreen = on != 0;
    return 0;
}

int video_sdl_is_fullscreen() {
    return video_sdl.fullscreen ? 1 : 0;
}

int video_sdl_say(uint32_t now, const char *text) {
    video_sdl.message = text;
    video_sdl.live = nullptr;
    video_sdl.message_at = now;
    video_sdl.has_message = true;
    return 0;
}

int video_sdl_say_live(uint32_t now, std::string (*text)()) {
    video_sdl.live = text;
    video_sdl.message_at = now;
    video_sdl.has_message = true;
    return 0;
}

const char *video_sdl_message(uint32_t now) {
    if (video_sdl.has_message && now - video_sdl.message_at >= VIDEO_SDL_MESSAGE_MS)
        video_sdl.has_message = false;
    if (video_sdl.has_message && video_sdl.live) video_sdl.message = video_sdl.live();
    return video_sdl.has_message ? video_sdl.message.c_str() : "";
}

int video_sdl_finish() {
    // SDL_VideoQuit alone leaves the subsystem marked as started, and a later
    // open would then run on a closed video driver.
    {
        std::lock_guard<std::mutex> hold(mailbox.lock);
        mailbox.open = false;
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    video_sdl.surface = nullptr;
    video_sdl.fullscreen = false;
    if (video) video->surface = nullptr;
    return 0;
}
