#include "sys_sdl_video.h"

#include <SDL/SDL.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <bit>
#include <cassert>

#include "log.h"
#include "sys_core.h"
#include "vdc.h"

constexpr int VIDEO_BPP = 32;
constexpr int VIDEO_BYTES_PER_PIXEL = VIDEO_BPP / 8;
constexpr Uint32 VIDEO_FLAGS = SDL_HWPALETTE | SDL_DOUBLEBUF;

// The surface belongs to SDL; it lives from a successful init to finish.
static struct { SDL_Surface *surface; } video_sdl;

// A picture value holds red in its low byte; the host pixel wants blue,
// green, red in its bytes 0 to 2 and keeps its byte 3. As a native word:
static constexpr bool LITTLE = std::endian::native == std::endian::little;
static constexpr uint32_t HOST_KEEP = LITTLE ? 0xFF000000u : 0x000000FFu;

static inline uint32_t to_host(uint32_t v) {
    const uint32_t r = v & 0xFF, g = (v >> 8) & 0xFF, b = (v >> 16) & 0xFF;
    return LITTLE ? (r << 16 | g << 8 | b) : (b << 24 | g << 16 | r << 8);
}

static inline void put_pixel(uint32_t *p, uint32_t host) {
    *p = (*p & HOST_KEEP) | host;
}

// One host row of zoom 2: `pairs` picture pixels doubled, then, when the
// surface has an odd width, the left half of pixel `pairs` if n says it fits.
static void copy_doubled(uint32_t *row, const uint32_t *src, int pairs, int n) {
    for (int x = 0; x < pairs; ++x) {
        const uint32_t h = to_host(src[x]);
        put_pixel(row + 2 * x, h);
        put_pixel(row + 2 * x + 1, h);
    }
    if (pairs < n) put_pixel(row + 2 * pairs, to_host(src[pairs]));
}

// Copies picture line `line` at the zoom of the video record. Host rows and
// columns are bounded by the surface, which keeps its opening size while the
// zoom may change under it. Pixels are 4 bytes (checked when opened).
static void copy_line(int line) {
    SDL_Surface *s = video_sdl.surface;
    const uint32_t *src = video->pixels + line * video->width;
    auto *pixels = static_cast<uint8_t *>(s->pixels);
    if (video->zoom != 1 && video->zoom != 2) {
        if (line >= s->h) return;
        auto *row = reinterpret_cast<uint32_t *>(pixels + line * s->pitch);
        const int n = std::min(video->width, s->w);
        for (int x = 0; x < n; ++x)
            put_pixel(row + x, to_host(src[x]));
        return;
    }
    const int y = 2 * line;
    if (y >= s->h) return;
    auto *row = reinterpret_cast<uint32_t *>(pixels + y * s->pitch);
    const int n = std::min(video->width, (s->w + 1) / 2); // picture pixels whose column 2x fits
    if (video->zoom == 1) {
        for (int x = 0; x < n; ++x)
            put_pixel(row + 2 * x, to_host(src[x]));
        return;
    }
    const int pairs = std::min(video->width, s->w / 2);
    copy_doubled(row, src, pairs, n);
    if (y + 1 < s->h)
        copy_doubled(reinterpret_cast<uint32_t *>(pixels + (y + 1) * s->pitch), src, pairs, n);
}

// Under the console, what the picture does not cover is cleared every frame:
// black when zoomed, dark green around the small picture.
static void clear_surface() {
    SDL_Surface *s = video_sdl.surface;
    const Uint8 green = video->zoom ? 0 : 16;
    SDL_FillRect(s, nullptr, SDL_MapRGBA(s->format, 0, green, 0, 0));
}

int video_sdl_init() {
    assert(video && "sources/sys_sdl_video");
    XInitThreads();
    const int w = video->zoom ? 2 * video->width : video->width;
    const int h = video->zoom ? 2 * video->height : video->height;
    // A failed open leaves nothing to draw on, whatever an earlier one left.
    video_sdl.surface = nullptr;
    video->surface = nullptr;
    video->update = nullptr;
    SDL_Surface *s = nullptr;
    if (SDL_WasInit(SDL_INIT_VIDEO) || SDL_InitSubSystem(SDL_INIT_VIDEO) == 0)
        s = SDL_SetVideoMode(w, h, VIDEO_BPP, VIDEO_FLAGS);
    if (!s) {
        log_error("unable to set %d x %d x 32bpp video: %s", w, h, SDL_GetError());
        return 1;
    }
    // Lines are copied as 4-byte words: refuse anything else rather than
    // write past a row.
    if (s->format->BytesPerPixel != VIDEO_BYTES_PER_PIXEL) {
        log_error("unable to set %d x %d x 32bpp video: got %d x %d x %dbpp", w, h, s->w, s->h,
                  s->format->BitsPerPixel);
        return 1;
    }
    SDL_WM_SetCaption(VIDEO_SDL_TITLE, nullptr);
    video_sdl.surface = s;
    video->surface = s;
    video->update = video_sdl_update;
    if (video->overlay) clear_surface();
    return 0;
}

int32_t video_sdl_update() {
    int32_t r = 0;
    int line = video->height - 1;
    if (video->render) {
        r = video->render();
        if (r) line = r - 1;
    }
    assert(line >= 0 && line < video->height && "sources/sys_sdl_video");
    // Without a window the machine still runs; nothing is drawn.
    if (video_sdl.surface) copy_line(line);
    if (r) return r;
    if (video_sdl.surface) {
        if (video->overlay) video->overlay();
        SDL_Flip(video_sdl.surface);
    }
    video->zoom = zoom;
    if (video_sdl.surface && video->overlay) clear_surface();
    return 0;
}

int video_sdl_finish() {
    // SDL_VideoQuit alone leaves the subsystem marked as started, and a later
    // open would then run on a closed video driver.
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    video_sdl.surface = nullptr;
    if (video) video->surface = nullptr;
    return 0;
}
