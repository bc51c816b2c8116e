#pragma once

#include <QMetaType>
#include <QVariant>

#include <functional>

// One piece of work for the worker thread of a connection: takes nothing, returns its
// result. Registered as the meta-type "RdpWorkerTask" so it travels through queued signals.
using RdpWorkerTask = std::function<QVariant()>;

Q_DECLARE_METATYPE(RdpWorkerTask)
