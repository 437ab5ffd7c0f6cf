// Scoped owner of one array made with new[].
#pragma once

// Holds one raw pointer.
template <typename T>
class __ptr_base_xx {
 protected:
  explicit __ptr_base_xx(T* p) : m_ptr(p) {}
  T* m_ptr;
};

template <typename T>
class auto_ptr_array : public __ptr_base_xx<T> {
 public:
  explicit auto_ptr_array(T* p = nullptr) : __ptr_base_xx<T>(p) {}
  ~auto_ptr_array() { reset(nullptr); }

  T* get() const { return this->m_ptr; }
  // Frees the held array unless it is `p` itself, then holds `p`.
  void reset(T* p) {
    if (this->m_ptr && this->m_ptr != p) delete[] this->m_ptr;
    this->m_ptr = p;
  }

 private:
  auto_ptr_array(const auto_ptr_array&) = delete;
  auto_ptr_array& operator=(const auto_ptr_array&) = delete;
};
