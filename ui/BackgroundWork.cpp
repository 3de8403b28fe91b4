// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BackgroundWork.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <exception>
#include <limits>
#include <thread>

void runBeside(QProgressDialog& progress,
               const std::function<void(const std::function<bool(int)>& step)>& work)
{
    std::atomic<int> done{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    std::exception_ptr failure;

    // Shown by this loop, not by the dialog's own timer, so that it is known when user input
    // may be let through.
    const int delay = progress.minimumDuration();
    progress.setMinimumDuration(std::numeric_limits<int>::max());
    const QMetaObject::Connection cancel =
        QObject::connect(&progress, &QProgressDialog::canceled, [&] { cancelled = true; });

    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished) {
            loop.quit();
            return;
        }
        if (progress.wasCanceled())
            cancelled = true;
        if (!progress.isVisible() && clock.elapsed() >= delay) {
            progress.show();
            loop.exit(1);   // from now on input goes to the dialog, which is modal
            return;
        }
        if (progress.isVisible() && progress.value() != done && done < progress.maximum())
            progress.setValue(done);
    });

    std::thread worker([&] {
        try {
            work([&](int n) {
                done = n;
                return !cancelled;
            });
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    });
    poll.start();
    if (loop.exec(QEventLoop::ExcludeUserInputEvents) == 1 && !finished)
        loop.exec();
    worker.join();
    poll.stop();
    QObject::disconnect(cancel);
    progress.reset();
    progress.hide();
    progress.setMinimumDuration(delay);
    if (failure)
        std::rethrow_exception(failure);
}
