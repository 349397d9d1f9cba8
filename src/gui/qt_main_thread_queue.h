#pragma once
// The main-thread queue on Qt: records posted by worker threads run on the user-interface
// thread, in the order they were posted.

#include <QCoreApplication>
#include <QMetaObject>

#include "devices/main_thread_queue.h"

namespace sonavel {

class QtMainThreadQueue final : public MainThreadQueue {
 public:
  void Post(std::function<void()> record) override {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(record), Qt::QueuedConnection);
  }
};

}  // namespace sonavel
