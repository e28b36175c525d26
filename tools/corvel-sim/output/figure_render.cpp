#include "output/figure_render.h"

#include <exception>

#include "common/errors.h"

#if defined(CORVEL_HAVE_RSVG)
#include <cairo-pdf.h>
#include <cairo.h>
#include <librsvg/rsvg.h>
#endif

namespace corvel::sim {

#if defined(CORVEL_HAVE_RSVG)

bool figures_rendered() { return true; }

namespace {

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
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
  if (handle == nullptr) {
    const std::string why = error != nullptr ? error->message : "unknown";
    if (error != nullptr) g_error_free(error);
    throw OutputError(file.path() + ": the figure could not be drawn (" + why + ")");
  }
  double width = 0, height = 0;
  if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height)) width = 1060, height = 800;
  const double scale = kind == FigureKind::kPng ? 2.0 : 0.75;  // PNG for print; PDF in points
  cairo_surface_t* surface =
      kind == FigureKind::kPng
          ? cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width * scale), static_cast<int>(height * scale))
          : cairo_pdf_surface_create_for_stream(write_to_output, &file, width * scale, height * scale);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  const RsvgRectangle viewport{0, 0, width, height};
  const bool drawn = rsvg_handle_render_document(handle, cr, &viewport, &error) != 0;
  cairo_destroy(cr);
  std::string why = drawn ? "" : error != nullptr ? error->message : "unknown";
  if (error != nullptr) g_error_free(error);
  cairo_status_t status = CAIRO_STATUS_SUCCESS;
  if (drawn && kind == FigureKind::kPng) status = cairo_surface_write_to_png_stream(surface, write_to_output, &file);
  cairo_surface_finish(surface);  // a PDF's last bytes are written here
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  g_object_unref(handle);
  if (!drawn) throw OutputError(file.path() + ": the figure could not be drawn (" + why + ")");
  if (status != CAIRO_STATUS_SUCCESS) {
    throw OutputError(status == CAIRO_STATUS_WRITE_ERROR ? file.write_failure()
                                                         : file.path() + ": " + cairo_status_to_string(status));
  }
}

}  // namespace

#else

bool figures_rendered() { return false; }

namespace {
void render(OutputFile&, const std::string&, FigureKind) {}
}  // namespace

#endif

void refuse_unwritable_figure(const std::string& path, const std::string& option) {
  const FigureKind kind = figure_kind(path, option);
  if ((kind == FigureKind::kPng || kind == FigureKind::kPdf) && !figures_rendered()) {
    throw UsageError(option + " " + path + ": this build draws no PNG or PDF (it was built without librsvg and "
                     "cairo); write .svg and convert it, or build with librsvg2-dev and libcairo2-dev");
  }
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
