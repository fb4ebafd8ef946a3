// IAMAudioInputMixer as the microphone filter and its input pins both offer it: the values
// are stored and read back. The owner supplies fault checks and where the level lives.
#pragma once
#include <dshow.h>
#include <mutex>

namespace testdevices {

class AudioMixerControl : public IAMAudioInputMixer {
public:
  HRESULT WINAPI put_Enable(WINBOOL enable) override;
  HRESULT WINAPI get_Enable(WINBOOL* enable) override;
  HRESULT WINAPI put_Mono(WINBOOL mono) override { return Put("put_Mono", settings.mono, mono); }
  HRESULT WINAPI get_Mono(WINBOOL* mono) override { return Get("get_Mono", settings.mono, mono); }
  HRESULT WINAPI put_MixLevel(double level) override;
  HRESULT WINAPI get_MixLevel(double* level) override;
  HRESULT WINAPI put_Pan(double pan) override { return Put("put_Pan", settings.pan, pan); }
  HRESULT WINAPI get_Pan(double* pan) override { return Get("get_Pan", settings.pan, pan); }
  HRESULT WINAPI put_Loudness(WINBOOL on) override {
    return Put("put_Loudness", settings.loudness, on);
  }
  HRESULT WINAPI get_Loudness(WINBOOL* on) override {
    return Get("get_Loudness", settings.loudness, on);
  }
  HRESULT WINAPI put_Treble(double treble) override {
    return Put("put_Treble", settings.treble, treble);
  }
  HRESULT WINAPI get_Treble(double* treble) override {
    return Get("get_Treble", settings.treble, treble);
  }
  HRESULT WINAPI get_TrebleRange(double* range) override {
    double r = 12.0;
    return Get("get_TrebleRange", r, range);
  }
  HRESULT WINAPI put_Bass(double bass) override { return Put("put_Bass", settings.bass, bass); }
  HRESULT WINAPI get_Bass(double* bass) override { return Get("get_Bass", settings.bass, bass); }
  HRESULT WINAPI get_BassRange(double* range) override {
    double r = 12.0;
    return Get("get_BassRange", r, range);
  }

protected:
  virtual ~AudioMixerControl() = default;
  // Counts the call "IAMAudioInputMixer::<method>"; true when it is to fail.
  virtual bool MixerCallFails(const char* method) = 0;
  virtual void EnableChanged(WINBOOL enable) {}
  virtual double ReadMixLevel() { return settings.mixLevel; }
  virtual void WriteMixLevel(double level) { settings.mixLevel = level; }

private:
  template <class T>
  HRESULT Put(const char* method, T& field, T value) {
    if (MixerCallFails(method)) return E_FAIL;
    std::lock_guard<std::mutex> guard(lock);
    field = value;
    return S_OK;
  }
  template <class T>
  HRESULT Get(const char* method, const T& field, T* out) {
    if (MixerCallFails(method)) return E_FAIL;
    if (!out) return E_POINTER;
    std::lock_guard<std::mutex> guard(lock);
    *out = field;
    return S_OK;
  }

  struct Settings {
    WINBOOL enable = FALSE, mono = FALSE, loudness = FALSE;
    double mixLevel = 1.0, pan = 0.0, treble = 0.0, bass = 0.0;
  } settings;
  std::mutex lock;
};

inline HRESULT WINAPI AudioMixerControl::put_Enable(WINBOOL enable) {
  HRESULT hr = Put("put_Enable", settings.enable, enable);
  if (hr == S_OK) EnableChanged(enable);
  return hr;
}

inline HRESULT WINAPI AudioMixerControl::get_Enable(WINBOOL* enable) {
  return Get("get_Enable", settings.enable, enable);
}

inline HRESULT WINAPI AudioMixerControl::put_MixLevel(double level) {
  if (MixerCallFails("put_MixLevel")) return E_FAIL;
  WriteMixLevel(level);
  return S_OK;
}

inline HRESULT WINAPI AudioMixerControl::get_MixLevel(double* level) {
  if (MixerCallFails("get_MixLevel")) return E_FAIL;
  if (!level) return E_POINTER;
  *level = ReadMixLevel();
  return S_OK;
}

}  // namespace testdevices
