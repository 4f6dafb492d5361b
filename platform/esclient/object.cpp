#include "es/korvues.h"

#include "platform/esclient/internal.h"

namespace korvu::es {

namespace {
const std::string kEmpty;
const NameValueMap kEmptySettings;
} // namespace

Object::Object() = default;

Object::Object(long long id, long long parent, int type, std::string name, std::string className,
               std::string serialNumber, NameValueMap settings)
{
    auto d = std::make_shared<detail::ObjectData>();
    d->id = id;
    d->parent = parent;
    d->type = type;
    d->name = std::move(name);
    d->className = std::move(className);
    d->serialNumber = std::move(serialNumber);
    d->settings = std::move(settings);
    m_d = std::move(d);
}

bool Object::isNull() const
{
    return !m_d;
}

long long Object::id() const
{
    return m_d ? m_d->id : 0;
}

long long Object::parent() const
{
    return m_d ? m_d->parent : 0;
}

const std::string &Object::name() const
{
    return m_d ? m_d->name : kEmpty;
}

const std::string &Object::className() const
{
    return m_d ? m_d->className : kEmpty;
}

Object::Type Object::type() const
{
    return Type(m_d ? m_d->type : 0);
}

const NameValueMap &Object::settings() const
{
    return m_d ? m_d->settings : kEmptySettings;
}

DeviceObject Object::toDevice() const
{
    DeviceObject device;
    if (m_d && m_d->type == Device)
        device.m_d = m_d;
    return device;
}

StreamObject Object::toStream() const
{
    StreamObject stream;
    if (m_d && m_d->type == Stream)
        stream.m_d = m_d;
    return stream;
}

DeviceObject::DeviceObject() = default;

bool DeviceObject::isNull() const
{
    return !m_d;
}

const std::string &DeviceObject::serialNumber() const
{
    return m_d ? m_d->serialNumber : kEmpty;
}

const std::string &DeviceObject::className() const
{
    return m_d ? m_d->className : kEmpty;
}

Object DeviceObject::object() const
{
    Object object;
    object.m_d = m_d;
    return object;
}

StreamObject::StreamObject() = default;

bool StreamObject::isNull() const
{
    return !m_d;
}

const std::string &StreamObject::serialNumber() const
{
    return m_d ? m_d->serialNumber : kEmpty;
}

const std::string &StreamObject::className() const
{
    return m_d ? m_d->className : kEmpty;
}

Object StreamObject::object() const
{
    Object object;
    object.m_d = m_d;
    return object;
}

} // namespace korvu::es
