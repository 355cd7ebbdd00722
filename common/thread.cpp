#include "common/thread.h"

i32 threadIdCounter = 0;

Thread::Thread() : stopRequested(0), id(threadIdCounter++), started(0) {}

Thread::~Thread() {
  if (started) {
    RequestStop();
    pthread_join(handle, nullptr);
  }
}

void Thread::Run() {}

bool Thread::Start(std::size_t stackSize) {
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, stackSize);
  started = pthread_create(&handle, &attributes, ThreadEntry, this) == 0;
  pthread_attr_destroy(&attributes);
  return started != 0;
}

void Thread::Join() {
  if (!started) return;
  RequestStop();
  pthread_join(handle, nullptr);
  started = 0;
}

void* ThreadEntry(void* object) {
  static_cast<Thread*>(object)->Run();
  return nullptr;
}

Mutex::~Mutex() {
  if (initialised) pthread_mutex_destroy(&mutex);
}

void Mutex::Init() {
  pthread_mutex_init(&mutex, nullptr);
  initialised = 1;
}

Condition::~Condition() {
  if (initialised) pthread_cond_destroy(&condition);
}

void Condition::Init() {
  pthread_cond_init(&condition, nullptr);
  initialised = 1;
}
