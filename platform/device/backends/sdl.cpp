// The SDL2 back end: a desktop window that shows the device screen as large
// as fits, with its shape kept (bars beside it), sharp at whole multiples and
// smooth between them. The window can be resized, maximised and made full
// screen (F11); its size and place are kept between runs. The left mouse
// button is the stylus, the wheel turns to the focus, keys go to the focused
// window; closing the desktop window closes the foreground window.
#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <clocale>
#include <mutex>
#include <vector>

#include "platform/base/clipboard.h"
#include "platform/base/text.h"
#include "platform/device/backends/backend.h"
#include "platform/device/backends/screen_fit.h"
#include "platform/device/backends/window_scaler.h"
#include "platform/device/backends/window_state.h"
#include "platform/screen/screen.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

UINT virtualKey(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return UINT('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return UINT('0' + (key - SDLK_0));
  if (key >= SDLK_F1 && key <= SDLK_F12) return VK_F1 + UINT(key - SDLK_F1);
  switch (key) {
    case SDLK_BACKSPACE:
      return VK_BACK;
    case SDLK_TAB:
      return VK_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return VK_RETURN;
    case SDLK_ESCAPE:
      return VK_ESCAPE;
    case SDLK_SPACE:
      return VK_SPACE;
    case SDLK_PAGEUP:
      return VK_PRIOR;
    case SDLK_PAGEDOWN:
      return VK_NEXT;
    case SDLK_END:
      return VK_END;
    case SDLK_HOME:
      return VK_HOME;
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_UP:
      return VK_UP;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_INSERT:
      return VK_INSERT;
    case SDLK_DELETE:
      return VK_DELETE;
    case SDLK_PLUS:
    case SDLK_KP_PLUS:
    case SDLK_EQUALS:
      return VK_ADD;
    case SDLK_MINUS:
    case SDLK_KP_MINUS:
      return VK_SUBTRACT;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT:
      return VK_MENU;
    default:
      return 0;
  }
}

// Xlib ends the process from its I/O error handler when the X server goes
// away; this one ends it the device's way instead.
int onXConnectionLost(void*) {
  displayLost();
}

void watchXConnection() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || std::string_view(driver) != "x11") return;
  void* x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (x11 == nullptr) return;
  using Handler = int (*)(void*);
  using SetHandler = Handler (*)(Handler);
  if (auto set = reinterpret_cast<SetHandler>(dlsym(x11, "XSetIOErrorHandler")); set != nullptr)
    set(onXConnectionLost);
  dlclose(x11);  // SDL holds its own reference
}

class Sdl final : public Backend {
 public:
  Sdl(SDL_Window* window, int width, int height, std::string placeFile)
      : window_(window), width_(width), height_(height), placeFile_(std::move(placeFile)) {
    SDL_StartTextInput();
    rememberPlace();
    refreshMs_ = 16;
    SDL_DisplayMode mode;
    if (SDL_GetWindowDisplayMode(window_, &mode) == 0 && mode.refresh_rate >= 24)
      refreshMs_ = std::max(1, 1000 / mode.refresh_rate);
    setClipboardAccess(ClipboardAccess{
        [] {
          char* text = SDL_GetClipboardText();
          std::u16string result = text != nullptr ? fromUtf8(text) : std::u16string();
          SDL_free(text);
          return result;
        },
        [](const std::u16string& text) { SDL_SetClipboardText(toUtf8(text).c_str()); }});
  }
  ~Sdl() override {
    setClipboardAccess({});
    if (!placeFile_.empty() && place_.width > 0) {
      place_.maximised = maximised_;
      writeWindowPlace(placeFile_, place_);
    }
    if (shadow_ != nullptr) SDL_FreeSurface(shadow_);
    SDL_DestroyWindow(window_);
    // SDL_Quit also ends what SDL started beside the video (its D-Bus link).
    SDL_Quit();
  }
  const char* name() const override { return "sdl"; }
  int refreshMs() const override { return refreshMs_; }

  void present(const Surface& screen, const std::vector<RECT>& changed) override {
    const std::vector<RECT>* areas = &changed;
    std::vector<RECT> whole;
    if (surface_ == nullptr) {
      surface_ = SDL_GetWindowSurface(window_);
      if (surface_ == nullptr) return;
      fit_ = fitScreen(surface_->w, surface_->h, width_, height_);
      direct_ = surface_->format->BytesPerPixel == 4 && surface_->format->Rmask == 0xFF0000 &&
                surface_->format->Gmask == 0x00FF00 && surface_->format->Bmask == 0x0000FF;
      if (shadow_ != nullptr) SDL_FreeSurface(shadow_);
      shadow_ = direct_ ? nullptr
                        : SDL_CreateRGBSurfaceWithFormat(0, surface_->w, surface_->h, 32,
                                                         SDL_PIXELFORMAT_RGB888);
      if (!direct_ && shadow_ == nullptr) return;
      SDL_Surface* target = direct_ ? surface_ : shadow_;
      lockTarget(target);
      fillBars(fit_, surface_->w, surface_->h, static_cast<uint32_t*>(target->pixels),
               target->pitch / 4, 0);
      unlockTarget(target);
      whole.push_back(RECT{0, 0, width_, height_});
      areas = &whole;
      whole_ = true;
    }
    SDL_Surface* target = direct_ ? surface_ : shadow_;
    rects_.clear();
    lockTarget(target);
    {
      std::lock_guard guard(screen.lock());
      for (const RECT& area : *areas) {
        const RECT drawn = scaleToWindow(screen, area, fit_, static_cast<uint32_t*>(target->pixels),
                                         target->pitch / 4);
        if (drawn.left >= drawn.right || drawn.top >= drawn.bottom) continue;
        rects_.push_back(SDL_Rect{int(drawn.left), int(drawn.top), int(drawn.right - drawn.left),
                                  int(drawn.bottom - drawn.top)});
      }
    }
    unlockTarget(target);
    if (whole_) rects_.assign(1, SDL_Rect{0, 0, surface_->w, surface_->h});
    whole_ = false;
    if (rects_.empty()) return;
    if (!direct_) {
      for (SDL_Rect& r : rects_)
        SDL_BlitSurface(shadow_, &r, surface_, &r);
    }
    SDL_UpdateWindowSurfaceRects(window_, rects_.data(), int(rects_.size()));
  }

  void raise() override {
    SDL_RestoreWindow(window_);
    SDL_RaiseWindow(window_);
  }

  void setTitle(const std::string& title) override { SDL_SetWindowTitle(window_, title.c_str()); }

  bool poll(int timeoutMs) override {
    SDL_Event event;
    bool any = false;
    if (SDL_WaitEventTimeout(&event, std::max(timeoutMs, 0)) == 0) return false;
    do {
      any = true;
      handle(event);
    } while (SDL_PollEvent(&event) != 0);
    return any;
  }

 private:
  static void lockTarget(SDL_Surface* s) {
    if (SDL_MUSTLOCK(s)) SDL_LockSurface(s);
  }
  static void unlockTarget(SDL_Surface* s) {
    if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
  }

  // The window's pixels must be drawn anew: its size changed or it was
  // uncovered.
  void redrawWhole() {
    surface_ = nullptr;
    markScreenChanged();
  }

  // The size and place to keep: those of the window as it stands when it is
  // neither full screen nor maximised.
  void rememberPlace() {
    const Uint32 flags = SDL_GetWindowFlags(window_);
    if (flags & SDL_WINDOW_FULLSCREEN_DESKTOP) return;
    maximised_ = (flags & SDL_WINDOW_MAXIMIZED) != 0;
    if (maximised_) return;
    // The place kept is the frame's (the window manager's title bar and
    // border included): a new window is put with its frame there, so the
    // inside comes back where it was instead of a title bar lower each run.
    int top = 0, left = 0;
    if (SDL_GetWindowBordersSize(window_, &top, &left, nullptr, nullptr) != 0) top = left = 0;
    SDL_GetWindowPosition(window_, &place_.x, &place_.y);
    place_.x -= left;
    place_.y -= top;
    SDL_GetWindowSize(window_, &place_.width, &place_.height);
  }

  bool toDevice(int x, int y, POINT& device) const { return windowToDevice(fit_, x, y, device); }

  void releaseModifiers() {
    for (const UINT vk : {VK_SHIFT, VK_CONTROL, VK_MENU}) {
      if (GetKeyState(int(vk)) < 0) injectKey(vk, false);
    }
  }

  void handle(const SDL_Event& e) {
    POINT p{};
    switch (e.type) {
      case SDL_WINDOWEVENT:
        switch (e.window.event) {
          case SDL_WINDOWEVENT_SIZE_CHANGED:
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_SHOWN:
          case SDL_WINDOWEVENT_RESTORED:
          case SDL_WINDOWEVENT_MAXIMIZED:
            redrawWhole();
            rememberPlace();
            break;
          case SDL_WINDOWEVENT_MOVED:
            rememberPlace();
            break;
          case SDL_WINDOWEVENT_FOCUS_LOST:
            releaseModifiers();
            break;
          case SDL_WINDOWEVENT_LEAVE:
            // The mouse left the window: it hovers over nothing on the screen.
            if (!down_) injectStylus(StylusAction::Hover, -1, -1);
            break;
          default:
            break;
        }
        break;
      case SDL_MOUSEBUTTONDOWN:
        if (e.button.button == SDL_BUTTON_LEFT && toDevice(e.button.x, e.button.y, p)) {
          down_ = true;
          const bool second = e.button.clicks >= 2 && e.button.clicks % 2 == 0;
          injectStylus(second ? StylusAction::DoubleDown : StylusAction::Down, p.x, p.y);
        }
        break;
      case SDL_MOUSEMOTION:
        if (down_) {
          toDevice(e.motion.x, e.motion.y, p);
          injectStylus(StylusAction::Move, p.x, p.y);
        } else if (toDevice(e.motion.x, e.motion.y, p)) {
          injectStylus(StylusAction::Hover, p.x, p.y);
        } else {
          injectStylus(StylusAction::Hover, -1, -1);
        }
        break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.button == SDL_BUTTON_LEFT && down_) {
          down_ = false;
          toDevice(e.button.x, e.button.y, p);
          injectStylus(StylusAction::Up, p.x, p.y);
        }
        break;
      case SDL_MOUSEWHEEL: {
        const int notches = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
        injectWheel(notches);
        break;
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        if (e.key.keysym.sym == SDLK_F11) {
          if (e.type == SDL_KEYDOWN && e.key.repeat == 0) toggleFullScreen();
        } else if (const UINT vk = virtualKey(e.key.keysym.sym); vk != 0) {
          injectKey(vk, e.type == SDL_KEYDOWN);
          if (e.type == SDL_KEYDOWN &&
              (vk == VK_BACK || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_TAB)) {
            injectChar(char16_t(vk));
          }
        }
        break;
      case SDL_TEXTINPUT:
        for (const char16_t c : fromUtf8(e.text.text))
          injectChar(c);
        break;
      case SDL_QUIT: {
        // The window's close box closes the program's window, not a dialog
        // standing in front of it.
        HWND front = GetForegroundWindow();
        for (HWND owner; front != nullptr && (owner = GetWindow(front, GW_OWNER)) != nullptr;)
          front = owner;
        if (front != nullptr) PostMessageW(front, WM_CLOSE, 0, 0);
        break;
      }
      default:
        break;
    }
  }

  // Full screen and back to the window as it was, maximised or not.
  void toggleFullScreen() {
    const bool full = (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    if (!full) rememberPlace();
    SDL_SetWindowFullscreen(window_, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
    if (full && maximised_) SDL_MaximizeWindow(window_);
    redrawWhole();
  }

  SDL_Window* window_;
  int width_, height_;
  std::string placeFile_;
  WindowPlace place_;
  bool maximised_ = false;
  int refreshMs_ = 16;
  SDL_Surface* surface_ = nullptr;  // the window's pixels; nothing after a change of size
  SDL_Surface* shadow_ = nullptr;   // where a window of another pixel format is drawn first
  bool direct_ = true;
  bool whole_ = false;
  ScreenFit fit_;
  std::vector<SDL_Rect> rects_;
  bool down_ = false;
};

}  // namespace

std::unique_ptr<Backend> openSdl(int width, int height, const BackendOptions& options) {
  // The window's pixels go through plain memory, not through OpenGL.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // Desktop windows keep compositing while the viewer runs.
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  // Xlib writes window titles through the locale's character set; in the
  // "C" locale a title's characters beyond ASCII are garbled or dropped.
  // C.UTF-8's character type takes any title whole and classifies ASCII
  // as "C" does (a user's locale could fold case otherwise).
  std::setlocale(LC_CTYPE, "C.UTF-8");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
  watchXConnection();
  int zoom = options.zoom;
  if (zoom <= 0) {
    SDL_DisplayMode mode;
    zoom = 1;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
      zoom = std::max(1, std::min(mode.w * 9 / 10 / width, mode.h * 9 / 10 / height));
    }
  }
  int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
  int w = width * zoom, h = height * zoom;
  std::optional<WindowPlace> kept;
  // A zoom asked for on the command line wins over the kept size.
  if (!options.placeFile.empty() && options.zoom <= 0) kept = readWindowPlace(options.placeFile);
  if (kept) {
    // On the screens there are now, not on one since unplugged.
    std::vector<RECT> screens;
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
      SDL_Rect r;
      if (SDL_GetDisplayUsableBounds(i, &r) == 0)
        screens.push_back({r.x, r.y, r.x + r.w, r.y + r.h});
    }
    kept = placeOnScreens(*kept, screens);
  }
  if (kept && kept->width >= width && kept->height >= height) {
    x = kept->x;
    y = kept->y;
    w = kept->width;
    h = kept->height;
  }
  SDL_Window* window = SDL_CreateWindow("ZENTA", x, y, w, h, SDL_WINDOW_RESIZABLE);
  if (window == nullptr) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  // Below its own size a device pixel would have no window pixel of its own.
  SDL_SetWindowMinimumSize(window, width, height);
  if (kept && kept->maximised) SDL_MaximizeWindow(window);
  return std::make_unique<Sdl>(window, width, height, options.placeFile);
}

}  // namespace zenta::platform
