#include "host/audio_backend.hpp"

#include "jack/backend.hpp"

namespace {

Backend* jack_of(void* data) {
  return static_cast<Backend*>(data);
}

} // namespace

AudioBackend jack_audio_backend(Backend* backend) {
  return {
      backend,
      [](void* data) { return audio_start(jack_of(data)); },
      [](void* data) { audio_stop(jack_of(data)); },
      [](void* data) { audio_update_latencies(jack_of(data)); },
      [](void* data) { audio_close(jack_of(data)); },
  };
}

int audio_backend_start(const AudioBackend* audio) {
  return audio->start ? audio->start(audio->data) : 1;
}

void audio_backend_stop(const AudioBackend* audio) {
  if (audio->stop) {
    audio->stop(audio->data);
  }
}

void audio_backend_update_latencies(const AudioBackend* audio) {
  if (audio->update_latencies) {
    audio->update_latencies(audio->data);
  }
}

void audio_backend_close(const AudioBackend* audio) {
  if (audio->close) {
    audio->close(audio->data);
  }
}
