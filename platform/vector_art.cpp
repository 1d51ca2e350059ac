// SVG rendering through librsvg onto cairo image surfaces, PNG through cairo.
#include "platform/vector_art.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace plat {
namespace {

struct TSurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct TContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct TObjectDeleter {
  void operator()(void* o) const { g_object_unref(o); }
};
using TSurface = std::unique_ptr<cairo_surface_t, TSurfaceDeleter>;

TArtImage CopyFromSurface(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  TArtImage image(width, height);
  for (int y = 0; y < height; ++y) {
    std::memcpy(&image.At(0, y), data + static_cast<ptrdiff_t>(y) * stride, static_cast<size_t>(width) * 4);
  }
  return image;
}

TSurface SurfaceFrom(const TArtImage& image) {
  TSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.Width, image.Height));
  cairo_surface_flush(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  unsigned char* data = cairo_image_surface_get_data(surface.get());
  for (int y = 0; y < image.Height; ++y) {
    std::memcpy(data + static_cast<ptrdiff_t>(y) * stride,
                image.Pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.Width),
                static_cast<size_t>(image.Width) * 4);
  }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

}  // namespace

TArtImage RenderSvg(const std::string& svgText, int width, int height, const std::string& name) {
  if (width <= 0 || height <= 0) throw EVectorArtError("Cannot render " + name + ": empty size");
  GError* error = nullptr;
  std::unique_ptr<RsvgHandle, TObjectDeleter> handle(rsvg_handle_new_from_data(
      reinterpret_cast<const guint8*>(svgText.data()), svgText.size(), &error));
  if (!handle) {
    std::string reason = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    throw EVectorArtError("Cannot read SVG " + name + ": " + reason);
  }
  rsvg_handle_set_dpi(handle.get(), 96.0);
  TSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  std::unique_ptr<cairo_t, TContextDeleter> cr(cairo_create(surface.get()));
  RsvgRectangle viewport{0.0, 0.0, static_cast<double>(width), static_cast<double>(height)};
  if (!rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error)) {
    std::string reason = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    throw EVectorArtError("Cannot render SVG " + name + ": " + reason);
  }
  return CopyFromSurface(surface.get());
}

TArtImage RenderSvgFile(const std::string& path, int width, int height) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EVectorArtError("Cannot open file \"" + path + "\"");
  std::stringstream text;
  text << in.rdbuf();
  return RenderSvg(text.str(), width, height, path);
}

void WritePng(const TArtImage& image, const std::string& path) {
  TSurface surface = SurfaceFrom(image);
  if (cairo_surface_write_to_png(surface.get(), path.c_str()) != CAIRO_STATUS_SUCCESS) {
    throw EVectorArtError("Cannot write PNG \"" + path + "\"");
  }
}

TArtImage ReadPng(const std::string& path) {
  TSurface surface(cairo_image_surface_create_from_png(path.c_str()));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    throw EVectorArtError("Cannot read PNG \"" + path + "\": " +
                          cairo_status_to_string(cairo_surface_status(surface.get())));
  }
  if (cairo_image_surface_get_format(surface.get()) == CAIRO_FORMAT_ARGB32 ||
      cairo_image_surface_get_format(surface.get()) == CAIRO_FORMAT_RGB24) {
    TArtImage image = CopyFromSurface(surface.get());
    if (cairo_image_surface_get_format(surface.get()) == CAIRO_FORMAT_RGB24) {
      for (uint32_t& p : image.Pixels) p |= 0xFF000000u;
    }
    return image;
  }
  // Other formats (grey, 1-bit) are converted by painting onto an ARGB surface.
  const int w = cairo_image_surface_get_width(surface.get());
  const int h = cairo_image_surface_get_height(surface.get());
  TSurface argb(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  std::unique_ptr<cairo_t, TContextDeleter> cr(cairo_create(argb.get()));
  cairo_set_source_surface(cr.get(), surface.get(), 0, 0);
  cairo_paint(cr.get());
  return CopyFromSurface(argb.get());
}

}  // namespace plat
