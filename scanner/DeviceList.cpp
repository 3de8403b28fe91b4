// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/DeviceList.h"

#include "scanner/ScannerHelper.h"
#include "scanner/ScannerLibrary.h"

#include <QMetaObject>

using namespace ScannerProtocol;

namespace {

QList<DeviceList::Device> readDevices(const Frame& answer, bool* ok)
{
    QList<DeviceList::Device> devices;
    Reader in(answer.payload);
    for (std::uint32_t n = in.count(16); n > 0 && in.ok(); --n) {
        const DeviceEntry d = in.device();
        devices.append({QByteArray::fromStdString(d.name),
                        fitSourceName(QByteArray::fromStdString(d.vendor) + ' '
                                      + QByteArray::fromStdString(d.model))});
    }
    *ok = answer.type == Message::Devices && in.atEnd();
    return devices;
}

} // namespace

QByteArray fitSourceName(QByteArray name)
{
    const int limit = ScannerLibrary::SourceNameSize - 1;
    if (name.size() > limit) {
        int cut = limit;
        // Step back over UTF-8 continuation bytes to the start of the cut character.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.truncate(cut);
    }
    return name;
}

struct DeviceList::Full
{
    std::unique_ptr<ScannerHelper> helper;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    QList<Device> found;
};

DeviceList::DeviceList() : m_notifier(std::make_unique<QObject>()) {}

DeviceList::~DeviceList()
{
    if (m_full) {
        m_full->helper->abort();
        m_full->thread.join();
    }
}

bool DeviceList::listLocal(ScannerHelper& helper, Failure* failure)
{
    Frame answer;
    if (!helper.call(Message::ListDevices, Writer().u8(1), &answer,
                     ScannerHelper::Deadlines::current().listing)) {
        *failure = {0, true, helper.failureText()};
        return false;
    }
    if (answer.type == Message::Status) {
        Reader in(answer.payload);
        failure->status = in.i32();
        failure->text = QString::fromStdString(in.str());
        failure->helper = false;
        return false;
    }
    bool ok = false;
    const QList<Device> local = readDevices(answer, &ok);
    if (!ok) {
        helper.breakOff();
        *failure = {0, true, helper.failureText()};
        return false;
    }
    m_devices = local;
    m_localListed = true;
    return true;
}

void DeviceList::startFull()
{
    pollFull();
    if (m_full)
        return;
    m_full = std::make_unique<Full>();
    // Started here, not in the listing thread: a helper ends with the thread that started it.
    m_full->helper = ScannerHelper::start();
    Full* full = m_full.get();
    QObject* notifier = m_notifier.get();
    full->thread = std::thread([full, notifier, this] {
        Frame answer;
        QList<Device> found;
        bool ok = false;
        if (full->helper->call(Message::ListDevices, Writer().u8(0), &answer,
                               ScannerHelper::Deadlines::current().listing)) {
            found = readDevices(answer, &ok);
            if (!ok && answer.type != Message::Status)
                full->helper->breakOff();
        }
        // A network backend may hold connections open; the helper is not needed again.
        full->helper->retire();
        {
            const std::lock_guard<std::mutex> lock(full->mutex);
            full->found = ok ? found : QList<Device>();
            full->done = true;
        }
        full->ended.notify_all();
        QMetaObject::invokeMethod(notifier, [this] { deliver(); }, Qt::QueuedConnection);
    });
}

bool DeviceList::fullRunning()
{
    pollFull();
    return m_full != nullptr;
}

void DeviceList::pollFull()
{
    if (!m_full)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_full->mutex);
        if (!m_full->done)
            return;
    }
    finishFull();
}

void DeviceList::finishFull()
{
    if (!m_full)
        return;
    {
        std::unique_lock<std::mutex> lock(m_full->mutex);
        m_full->ended.wait(lock, [this] { return m_full->done; });
    }
    m_full->thread.join();
    const QList<Device> found = m_full->found;
    m_full.reset();
    m_fullListed = true;
    merge(found);
}

void DeviceList::merge(const QList<Device>& found)
{
    for (const Device& d : found) {
        const bool known = std::any_of(m_devices.begin(), m_devices.end(),
                                       [&](const Device& k) { return k.saneName == d.saneName; });
        if (!known)
            m_devices.append(d);
    }
}

void DeviceList::whenFullEnds(QObject* receiver, std::function<void()> done)
{
    m_waiters.append({QPointer<QObject>(receiver), std::move(done)});
    if (!fullRunning())
        QMetaObject::invokeMethod(m_notifier.get(), [this] { deliver(); }, Qt::QueuedConnection);
}

void DeviceList::deliver()
{
    pollFull();
    if (m_full)
        return; // another listing started meanwhile: its own end delivers
    const auto waiters = std::exchange(m_waiters, {});
    for (const auto& [receiver, done] : waiters)
        if (receiver)
            done();
}
