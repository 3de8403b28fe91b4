// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ScannerHelper;

// The scanner devices as SANE lists them, in two parts: the local devices at once, and the
// full listing (network scanners too) from a helper of its own, which may take long or hang
// on a network host that never answers, so it runs beside everything else within its
// deadline. Its devices are appended to the known ones when it ends.
class DeviceList
{
public:
    struct Device
    {
        QByteArray saneName;
        QByteArray productName; // "vendor model", cut to fit the name buffer
    };
    struct Failure
    {
        int status = 0;    // a device status when the helper answered with one
        bool helper = false; // the helper failed (its failure says how)
        QString text;
    };

    DeviceList();
    // Kills a full listing still under way.
    ~DeviceList();

    // Lists the local devices with `helper`, which stays usable; they replace the known ones.
    bool listLocal(ScannerHelper& helper, Failure* failure);
    // Starts the full listing unless one is under way. Call from the owner's thread.
    void startFull();
    bool fullRunning();
    // Waits for the full listing (it ends by its deadline) and takes in its devices.
    void finishFull();
    // Takes in the devices of a full listing that has ended; nothing when it has not.
    void pollFull();
    // done runs on receiver's thread once the full listing has ended and its devices are in
    // (through the event loop; at once through it when none is under way).
    void whenFullEnds(QObject* receiver, std::function<void()> done);

    const QList<Device>& devices() const { return m_devices; }
    bool localListed() const { return m_localListed; }
    // A full listing has ended (answered, failed or timed out) and was taken in.
    bool fullListed() const { return m_fullListed; }

private:
    struct Full;
    void merge(const QList<Device>& found);
    void deliver();

    QList<Device> m_devices;
    bool m_localListed = false;
    bool m_fullListed = false;
    std::unique_ptr<Full> m_full;
    // Lives in the owner's thread: the listing thread posts its end here.
    std::unique_ptr<QObject> m_notifier;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> m_waiters;
};

// A product name cut to fit the name buffer (terminating NUL included) without splitting
// a character.
QByteArray fitSourceName(QByteArray name);
