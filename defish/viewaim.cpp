#include "defish/viewaim.h"

#include "defish/defishfilter.h"
#include "defish/defishlogging.h"
#include "defish/layoutcodec.h"
#include "defish/servable.h"

#include <gst/gst.h>

namespace {

ViewAim turned(const ViewAim &aim, const FisheyeView &angles)
{
    ViewAim result = aim;
    result.roll = angles.roll;
    result.tilt = angles.tilt;
    result.pan = angles.pan;
    return result;
}

FisheyeMount mountOf(const QString &mount)
{
    Lens lens;
    lens.mount = mount;
    return lens.fisheyeMount();
}

} // namespace

ViewAim ViewAim::toCamera(const QString &mount) const
{
    return turned(*this, FisheyeProjection::toCamera(mountOf(mount), fisheye(1.0f)));
}

ViewAim ViewAim::toRoom(const QString &mount) const
{
    return turned(*this, FisheyeProjection::fromCamera(mountOf(mount), fisheye(1.0f)));
}

bool ViewAim::isServable() const
{
    if (mode == QLatin1String("perspective"))
        return Servable::aimIsServable(roll, tilt, pan, zoom);
    FisheyeLayout checked;
    QString why;
    return fisheyeLayout(FisheyeMount::Wall, &checked, &why);
}

FisheyeView ViewAim::fisheye(float ratio) const
{
    return FisheyeView{roll, tilt, pan, zoom, ratio};
}

bool ViewAim::fisheyeLayout(FisheyeMount mount, FisheyeLayout *result, QString *why) const
{
    return LayoutCodec::fromMap(mode, layout, mount, result, why);
}

QVariantMap ViewAim::uniforms(const Lens &lens, const ViewAim &aim, float width, float height, float ratio)
{
    FisheyeLayout layout;
    QString why;
    if (!aim.fisheyeLayout(lens.fisheyeMount(), &layout, &why)) {
        qCWarning(lcDefish, "No uniforms: %s", qPrintable(why));
        return {};
    }
    GstStructure *structure = DefishFilter::uniforms(lens.fisheye(width, height), aim.fisheye(ratio), layout);
    QVariantMap result;
    for (int i = 0; i < gst_structure_n_fields(structure); ++i) {
        const char *name = gst_structure_nth_field_name(structure, i);
        const GValue *value = gst_structure_get_value(structure, name);
        if (value && G_VALUE_HOLDS_FLOAT(value))
            result.insert(QString::fromLatin1(name), g_value_get_float(value));
    }
    gst_structure_free(structure);
    return result;
}

bool ViewAim::operator==(const ViewAim &other) const
{
    return roll == other.roll && tilt == other.tilt && pan == other.pan && zoom == other.zoom && mode == other.mode &&
           layout == other.layout;
}
