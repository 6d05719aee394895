// Closures. A task is a move-only callable that owns copies of its bound
// values and runs at most once; callers bind values with a lambda capture:
//
//   base::OnceClosure task = [this, size] { OnProgress(size); };
//   std::move(task).Run();
//
// Callbacks that run more than once (a dialog's close callback, a result
// callback) are RepeatingCallback, a std::function.
#ifndef BASE_CALLBACK_H_
#define BASE_CALLBACK_H_

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace base {

class OnceClosure {
 public:
  OnceClosure() = default;
  OnceClosure(std::nullptr_t) {}

  template <typename Functor,
            typename = std::enable_if_t<
                !std::is_same_v<std::decay_t<Functor>, OnceClosure> &&
                std::is_invocable_r_v<void, std::decay_t<Functor>&>>>
  OnceClosure(Functor&& functor) {
    // A null function pointer or empty std::function stays a null closure,
    // so that posting it is caught where it is posted.
    if (!IsNullFunctor(functor)) {
      holder_ = std::make_unique<Holder<std::decay_t<Functor>>>(
          std::forward<Functor>(functor));
    }
  }

  OnceClosure(OnceClosure&&) noexcept = default;
  OnceClosure& operator=(OnceClosure&&) noexcept = default;
  OnceClosure(const OnceClosure&) = delete;
  OnceClosure& operator=(const OnceClosure&) = delete;

  explicit operator bool() const { return holder_ != nullptr; }
  bool is_null() const { return holder_ == nullptr; }
  void Reset() { holder_.reset(); }

  // Runs the closure and destroys it (with its bound values) afterwards.
  void Run() && {
    std::unique_ptr<HolderBase> holder = std::move(holder_);
    holder->Run();
  }

 private:
  struct HolderBase {
    virtual ~HolderBase() = default;
    virtual void Run() = 0;
  };
  template <typename Functor>
  struct Holder final : HolderBase {
    explicit Holder(Functor&& f) : functor(std::move(f)) {}
    explicit Holder(const Functor& f) : functor(f) {}
    void Run() override { functor(); }
    Functor functor;
  };

  template <typename Functor>
  static bool IsNullFunctor(const Functor&) {
    return false;
  }
  template <typename Signature>
  static bool IsNullFunctor(const std::function<Signature>& functor) {
    return !functor;
  }
  template <typename Result, typename... Args>
  static bool IsNullFunctor(Result (*functor)(Args...)) {
    return functor == nullptr;
  }

  std::unique_ptr<HolderBase> holder_;
};

template <typename Signature>
using RepeatingCallback = std::function<Signature>;
using RepeatingClosure = std::function<void()>;

}  // namespace base

#endif  // BASE_CALLBACK_H_
