// PNG pictures of the charts: the chart's SVG rendered by librsvg into a cairo image.
// librsvg is loaded when a PNG is asked for, not when zelk starts: zelk runs on a system
// without it (the Linux tarball brings only the driver's own libraries), and only `plot -o
// NAME.png` needs it. The prototypes come from librsvg's own headers.
#include "dataset.h"

#if defined(ZELK_PNG_RSVG)
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <type_traits>

#include "platform/platform.h"
#endif

namespace zelk::tool {

#if defined(ZELK_PNG_RSVG)
namespace {

constexpr const char* kRsvgLibrary = "librsvg-2.so.2";

// librsvg's and the libraries' it brings (cairo, GLib) functions that a rendering calls.
struct Rsvg {
    decltype(&rsvg_handle_new_from_data) newFromData = nullptr;
    decltype(&rsvg_handle_render_document) renderDocument = nullptr;
    decltype(&cairo_image_surface_create) surfaceCreate = nullptr;
    decltype(&cairo_surface_status) surfaceStatus = nullptr;
    decltype(&cairo_surface_write_to_png_stream) writePng = nullptr;
    decltype(&cairo_surface_destroy) surfaceDestroy = nullptr;
    decltype(&cairo_create) create = nullptr;
    decltype(&cairo_set_source_rgb) setSourceRgb = nullptr;
    decltype(&cairo_paint) paint = nullptr;
    decltype(&cairo_destroy) destroy = nullptr;
    decltype(&g_object_unref) objectUnref = nullptr;
    decltype(&g_error_free) errorFree = nullptr;
};

// Loaded once and kept until the process ends: GLib is not made to be unloaded.
const Rsvg* LoadRsvg(std::string* error) {
    static std::string failure;
    static plat::DynamicLibrary* library = nullptr;  // kept, and reachable for leak checkers
    static const Rsvg* const loaded = []() -> const Rsvg* {
        auto* lib = library = new plat::DynamicLibrary;
        std::string why;
        if (!lib->Open(kRsvgLibrary, &why)) {
            failure = why;
            delete lib;
            library = nullptr;
            return nullptr;
        }
        auto* r = new Rsvg;
        bool complete = true;
        // dlsym on librsvg's handle finds cairo's and GLib's symbols too: they are its dependencies.
        auto bind = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(lib->Symbol(name));
            if (!fn) {
                complete = false;
                failure += std::string(failure.empty() ? "" : ", ") + name + " missing";
            }
        };
        bind(r->newFromData, "rsvg_handle_new_from_data");
        bind(r->renderDocument, "rsvg_handle_render_document");
        bind(r->surfaceCreate, "cairo_image_surface_create");
        bind(r->surfaceStatus, "cairo_surface_status");
        bind(r->writePng, "cairo_surface_write_to_png_stream");
        bind(r->surfaceDestroy, "cairo_surface_destroy");
        bind(r->create, "cairo_create");
        bind(r->setSourceRgb, "cairo_set_source_rgb");
        bind(r->paint, "cairo_paint");
        bind(r->destroy, "cairo_destroy");
        bind(r->objectUnref, "g_object_unref");
        bind(r->errorFree, "g_error_free");
        if (complete) return r;
        delete r;
        return nullptr;  // the library stays open: a half-bound GLib is not closed either
    }();
    if (!loaded)
        *error = "a PNG needs librsvg (Debian package librsvg2-2), which cannot be loaded here (" + failure +
                 "); write the chart as .svg instead";
    return loaded;
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool RenderPng(const Chart& chart, std::string* png, std::string* error) {
    const Rsvg* r = LoadRsvg(error);
    if (!r) return false;
    GError* gerror = nullptr;
    RsvgHandle* handle =
        r->newFromData(reinterpret_cast<const guint8*>(chart.svg.data()), chart.svg.size(), &gerror);
    if (!handle) {
        *error = std::string("librsvg cannot read the chart: ") + (gerror ? gerror->message : "unknown error");
        if (gerror) r->errorFree(gerror);
        return false;
    }
    // An opaque image: the chart has a white background, a PNG without alpha is smaller.
    cairo_surface_t* surface = r->surfaceCreate(CAIRO_FORMAT_RGB24, chart.width, chart.height);
    cairo_t* cr = r->create(surface);
    r->setSourceRgb(cr, 1, 1, 1);
    r->paint(cr);
    const RsvgRectangle viewport{0, 0, static_cast<double>(chart.width), static_cast<double>(chart.height)};
    bool ok = r->renderDocument(handle, cr, &viewport, &gerror) != 0;
    if (!ok) *error = std::string("librsvg cannot render the chart: ") + (gerror ? gerror->message : "unknown error");
    if (gerror) r->errorFree(gerror);
    r->destroy(cr);
    png->clear();
    if (ok && (r->surfaceStatus(surface) != CAIRO_STATUS_SUCCESS ||
               r->writePng(surface, Append, png) != CAIRO_STATUS_SUCCESS)) {
        *error = "cairo cannot make the PNG image";
        ok = false;
    }
    r->surfaceDestroy(surface);
    r->objectUnref(handle);
    return ok;
}

#else

bool RenderPng(const Chart&, std::string*, std::string* error) {
    *error = "this build of zelk (Windows) cannot write PNG pictures: write the chart as .svg (-o NAME.svg), which "
             "browsers and office programs open";
    return false;
}

#endif

}  // namespace zelk::tool
