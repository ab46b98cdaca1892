// The SDL2 back end: a desktop window showing the device screen at an
// integer zoom. The left mouse button is the stylus; keys go to the focused
// window; closing the desktop window closes the foreground window.
#include <SDL.h>

#include <algorithm>

#include "platform/base/text.h"
#include "platform/device/backends/backend.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

UINT virtualKey(SDL_Keycode key) {
  switch (key) {
    case SDLK_BACKSPACE:
      return 0x08;
    case SDLK_TAB:
      return 0x09;
    case SDLK_RETURN:
      return 0x0D;
    case SDLK_ESCAPE:
      return 0x1B;
    case SDLK_END:
      return 0x23;
    case SDLK_HOME:
      return 0x24;
    case SDLK_LEFT:
      return 0x25;
    case SDLK_UP:
      return 0x26;
    case SDLK_RIGHT:
      return 0x27;
    case SDLK_DOWN:
      return 0x28;
    case SDLK_DELETE:
      return 0x2E;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return 0x10;
    default:
      return 0;
  }
}

class Sdl final : public Backend {
 public:
  Sdl(SDL_Window* window, SDL_Renderer* renderer, SDL_Texture* texture, int zoom)
      : window_(window), renderer_(renderer), texture_(texture), zoom_(zoom) {
    SDL_StartTextInput();
  }
  ~Sdl() override {
    SDL_DestroyTexture(texture_);
    SDL_DestroyRenderer(renderer_);
    SDL_DestroyWindow(window_);
    // SDL_Quit also ends what SDL started beside the video (its D-Bus link).
    SDL_Quit();
  }
  const char* name() const override { return "sdl"; }

  void present(const Surface& screen) override {
    SDL_UpdateTexture(texture_, nullptr, const_cast<Surface&>(screen).bits(), int(screen.stride()));
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
  }

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
  void handle(const SDL_Event& e) {
    switch (e.type) {
      case SDL_MOUSEBUTTONDOWN:
        if (e.button.button == SDL_BUTTON_LEFT) {
          down_ = true;
          injectStylus(StylusAction::Down, e.button.x / zoom_, e.button.y / zoom_);
        }
        break;
      case SDL_MOUSEMOTION:
        if (down_) injectStylus(StylusAction::Move, e.motion.x / zoom_, e.motion.y / zoom_);
        break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.button == SDL_BUTTON_LEFT && down_) {
          down_ = false;
          injectStylus(StylusAction::Up, e.button.x / zoom_, e.button.y / zoom_);
        }
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        if (const UINT vk = virtualKey(e.key.keysym.sym); vk != 0) {
          injectKey(vk, e.type == SDL_KEYDOWN);
          if (e.type == SDL_KEYDOWN && (vk == 0x08 || vk == 0x0D || vk == 0x1B || vk == 0x09)) {
            injectChar(char16_t(vk));
          }
        }
        break;
      case SDL_TEXTINPUT:
        for (const char16_t c : fromUtf8(e.text.text))
          injectChar(c);
        break;
      case SDL_QUIT:
        if (const HWND front = GetForegroundWindow(); front != nullptr) {
          PostMessageW(front, WM_CLOSE, 0, 0);
        }
        break;
      default:
        break;
    }
  }

  SDL_Window* window_;
  SDL_Renderer* renderer_;
  SDL_Texture* texture_;
  int zoom_;
  bool down_ = false;
};

}  // namespace

std::unique_ptr<Backend> openSdl(int width, int height, const BackendOptions& options) {
  // The window's pixels go through plain memory, not through OpenGL.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
  int zoom = options.zoom;
  if (zoom <= 0) {
    SDL_DisplayMode mode;
    zoom = 1;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
      zoom = std::max(1, std::min(mode.w * 9 / 10 / width, mode.h * 9 / 10 / height));
    }
  }
  SDL_Window* window = SDL_CreateWindow("ZENTA device", SDL_WINDOWPOS_CENTERED,
                                        SDL_WINDOWPOS_CENTERED, width * zoom, height * zoom, 0);
  if (window == nullptr) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  // The software renderer: an integer zoom of a small screen needs no GPU,
  // and it keeps the graphics driver's own threads out of the program.
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
  SDL_Texture* texture = renderer == nullptr
                             ? nullptr
                             : SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888,
                                                 SDL_TEXTUREACCESS_STREAMING, width, height);
  if (texture == nullptr) {
    if (renderer != nullptr) SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  return std::make_unique<Sdl>(window, renderer, texture, zoom);
}

}  // namespace zenta::platform
