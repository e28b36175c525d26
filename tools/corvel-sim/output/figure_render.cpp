#include "output/figure_render.h"

#include <exception>

#include "common/errors.h"

#if defined(CORVEL_HAVE_RSVG)
#include <cairo-pdf.h>
#include <cairo.h>
#include <dlfcn.h>
#include <librsvg/rsvg.h>

#include <type_traits>
#endif

namespace corvel::sim {

#if defined(CORVEL_HAVE_RSVG)

bool figures_rendered() { return true; }

namespace {

// librsvg and cairo, opened when a figure is first drawn: a machine without
// them runs corvel-sim all the same and hears why a PNG or PDF cannot be.
struct Drawing {
  decltype(&rsvg_handle_new_from_data) new_from_data;
  decltype(&rsvg_handle_get_intrinsic_size_in_pixels) intrinsic_size;
  decltype(&rsvg_handle_render_document) render_document;
  decltype(&g_object_unref) object_unref;
  decltype(&g_error_free) error_free;
  decltype(&cairo_image_surface_create) image_surface_create;
  decltype(&cairo_pdf_surface_create_for_stream) pdf_surface_create_for_stream;
  decltype(&cairo_create) create;
  decltype(&cairo_scale) scale;
  decltype(&cairo_destroy) destroy;
  decltype(&cairo_surface_write_to_png_stream) write_to_png_stream;
  decltype(&cairo_surface_finish) surface_finish;
  decltype(&cairo_surface_status) surface_status;
  decltype(&cairo_surface_destroy) surface_destroy;
  decltype(&cairo_status_to_string) status_to_string;
};

// The libraries' functions, or the reason they are not there. Opened once;
// never closed (glib's types stay registered for the process's life).
const Drawing& drawing(const std::string& path) {
  static std::string missing;
  static const Drawing* const loaded = [] () -> const Drawing* {
    void* rsvg = dlopen("librsvg-2.so.2", RTLD_NOW | RTLD_LOCAL);
    if (rsvg == nullptr) {
      missing = "this machine has no librsvg 2 (Debian's librsvg2-2)";
      return nullptr;
    }
    static Drawing d{};
    bool all = true;
    // librsvg brings cairo and glib with it: its handle finds their functions too.
    const auto find = [&](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(rsvg, name));
      if (function == nullptr) {
        all = false;
        if (missing.empty()) missing = std::string("its drawing libraries lack ") + name;
      }
    };
    find(d.new_from_data, "rsvg_handle_new_from_data");
    find(d.intrinsic_size, "rsvg_handle_get_intrinsic_size_in_pixels");
    find(d.render_document, "rsvg_handle_render_document");
    find(d.object_unref, "g_object_unref");
    find(d.error_free, "g_error_free");
    find(d.image_surface_create, "cairo_image_surface_create");
    find(d.pdf_surface_create_for_stream, "cairo_pdf_surface_create_for_stream");
    find(d.create, "cairo_create");
    find(d.scale, "cairo_scale");
    find(d.destroy, "cairo_destroy");
    find(d.write_to_png_stream, "cairo_surface_write_to_png_stream");
    find(d.surface_finish, "cairo_surface_finish");
    find(d.surface_status, "cairo_surface_status");
    find(d.surface_destroy, "cairo_surface_destroy");
    find(d.status_to_string, "cairo_status_to_string");
    return all ? &d : nullptr;
  }();
  if (loaded == nullptr) {
    throw OutputError(path + ": a PNG or PDF figure cannot be drawn here: " + missing + "; write .svg (or .html)");
  }
  return *loaded;
}

// cairo's writes go into the output file, whose own checks see a full disk.
cairo_status_t write_to_output(void* closure, const unsigned char* data, unsigned int length) {
  try {
    static_cast<OutputFile*>(closure)->write(data, length);
    return CAIRO_STATUS_SUCCESS;
  } catch (...) {
    return CAIRO_STATUS_WRITE_ERROR;
  }
}

void render(OutputFile& file, const std::string& svg, FigureKind kind) {
  const Drawing& d = drawing(file.path());
  GError* error = nullptr;
  RsvgHandle* handle = d.new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
  if (handle == nullptr) {
    const std::string why = error != nullptr ? error->message : "unknown";
    if (error != nullptr) d.error_free(error);
    throw OutputError(file.path() + ": the figure could not be drawn (" + why + ")");
  }
  double width = 0, height = 0;
  if (!d.intrinsic_size(handle, &width, &height)) width = 1060, height = 800;
  const double scale = kind == FigureKind::kPng ? 2.0 : 0.75;  // PNG for print; PDF in points
  cairo_surface_t* surface =
      kind == FigureKind::kPng
          ? d.image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width * scale), static_cast<int>(height * scale))
          : d.pdf_surface_create_for_stream(write_to_output, &file, width * scale, height * scale);
  cairo_t* cr = d.create(surface);
  d.scale(cr, scale, scale);
  const RsvgRectangle viewport{0, 0, width, height};
  const bool drawn = d.render_document(handle, cr, &viewport, &error) != 0;
  d.destroy(cr);
  std::string why = drawn ? "" : error != nullptr ? error->message : "unknown";
  if (error != nullptr) d.error_free(error);
  cairo_status_t status = CAIRO_STATUS_SUCCESS;
  if (drawn && kind == FigureKind::kPng) status = d.write_to_png_stream(surface, write_to_output, &file);
  d.surface_finish(surface);  // a PDF's last bytes are written here
  if (status == CAIRO_STATUS_SUCCESS) status = d.surface_status(surface);
  d.surface_destroy(surface);
  d.object_unref(handle);
  if (!drawn) throw OutputError(file.path() + ": the figure could not be drawn (" + why + ")");
  if (status != CAIRO_STATUS_SUCCESS) {
    throw OutputError(status == CAIRO_STATUS_WRITE_ERROR ? file.write_failure()
                                                         : file.path() + ": " + d.status_to_string(status));
  }
}

}  // namespace

#else

bool figures_rendered() { return false; }

namespace {
void render(OutputFile&, const std::string&, FigureKind) {}
void drawing(const std::string&) {}
}  // namespace

#endif

void refuse_unwritable_figure(const std::string& path, const std::string& option) {
  const FigureKind kind = figure_kind(path, option);
  if ((kind == FigureKind::kPng || kind == FigureKind::kPdf) && !figures_rendered()) {
    throw UsageError(option + " " + path + ": this build draws no PNG or PDF (it was built without librsvg and "
                     "cairo); write .svg and convert it, or build with librsvg2-dev and libcairo2-dev");
  }
  // The libraries, looked for before the run rather than after it.
  if (kind == FigureKind::kPng || kind == FigureKind::kPdf) drawing(path);
}

void write_figure(OutputFile& file, const std::string& svg) {
  const FigureKind kind = figure_kind(file.path(), "--plot");
  if (kind == FigureKind::kPng || kind == FigureKind::kPdf) {
    render(file, svg, kind);
  } else {
    file.write(svg.data(), svg.size());
  }
}

}  // namespace corvel::sim
