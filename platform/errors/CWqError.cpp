#include "CWqError.h"

#include <cstdio>
#include <sstream>

#include "FXFormat.h"

FXErrorPrivate& CWqError::Private() {
  if (!m_ptrPrivate) m_ptrPrivate.reset(new FXErrorPrivate);
  return *m_ptrPrivate;
}

CWqError& CWqError::operator<<(const boost::any& parameter) {
  Private().parameters.push_back(parameter);
  return *this;
}

CWqError& CWqError::Push(const FXCodeLocation& location) {
  FXErrorFrame frame;
  frame.file = location.m_pFile ? location.m_pFile : "";
  frame.function = location.m_pFunction ? location.m_pFunction : "";
  frame.line = location.m_iLine;
  Private().frames.push_back(frame);
  return *this;
}

CWqError& CWqError::Push(const FXCodeLocation& location, const char* format, ...) {
  Push(location);
  if (format) {
    va_list args;
    va_start(args, format);
    m_ptrPrivate->frames.back().text = FXFormatV(format, args);
    va_end(args);
  }
  return *this;
}

CWqError CWqError::Make(FXErrorKind kind, int64_t number, const FXCodeLocation& location,
                        const char* format, va_list* args) {
  CWqError error;
  // The code only says "failed, and of which kind"; the number is kept apart
  // so that 0 and positive numbers still make failures.
  error.m_iCode = -static_cast<int32_t>(kind);
  error.Private().kind = kind;
  error.m_ptrPrivate->number = number;
  error.Push(location);
  if (format && args) error.m_ptrPrivate->frames.back().text = FXFormatV(format, *args);
  return error;
}

FXErrorKind CWqError::GetKind() const {
  return m_ptrPrivate ? m_ptrPrivate->kind : FX_ERROR_NONE;
}

int64_t CWqError::GetNumber() const { return m_ptrPrivate ? m_ptrPrivate->number : 0; }

std::vector<boost::any> CWqError::GetParameters() const {
  return m_ptrPrivate ? m_ptrPrivate->parameters : std::vector<boost::any>();
}

std::vector<FXErrorFrame> CWqError::GetFrames() const {
  return m_ptrPrivate ? m_ptrPrivate->frames : std::vector<FXErrorFrame>();
}

namespace {

const char* KindName(FXErrorKind kind) {
  switch (kind) {
    case FX_ERROR_ERRNO: return "errno";
    case FX_ERROR_WIN32: return "win32";
    case FX_ERROR_INT: return "int";
    case FX_ERROR_EVENT_MESSAGE: return "event";
    case FX_ERROR_KX_RESULT: return "result";
    default: return "none";
  }
}

}  // namespace

std::string CWqError::AsString() const {
  if (!IsError() && !m_ptrPrivate) return "Success";
  std::ostringstream out;
  const FXErrorPrivate* p = m_ptrPrivate.get();
  if (!IsError()) {
    out << "Success";
  } else {
    out << "Error " << m_iCode << " (" << KindName(p ? p->kind : FX_ERROR_NONE);
    if (p && p->kind == FX_ERROR_EVENT_MESSAGE) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(p->number));
      out << " " << hex;
    } else if (p) {
      out << " " << p->number;
    }
    out << ")";
  }
  if (p) {
    if (!p->parameters.empty()) {
      out << " [";
      for (size_t i = 0; i < p->parameters.size(); ++i) {
        if (i) out << ", ";
        out << FXAnyText(p->parameters[i]);
      }
      out << "]";
    }
    for (auto it = p->frames.rbegin(); it != p->frames.rend(); ++it) {
      out << "\n  at " << it->function << " (" << it->file << ":" << it->line << ")";
      if (!it->text.empty()) out << ": " << it->text;
    }
  }
  return out.str();
}

std::string CWqError::AsString(EErrorOutputFormat format) const {
  if (format == ERROR_OUTPUT_CHAIN) return AsString();
  const FXErrorPrivate* p = m_ptrPrivate.get();
  std::string texts;
  if (p) {
    for (auto it = p->frames.rbegin(); it != p->frames.rend(); ++it) {
      if (it->text.empty()) continue;
      if (!texts.empty()) texts += ": ";
      texts += it->text;
    }
  }
  if (format == ERROR_OUTPUT_TEXT) return texts;
  std::ostringstream out;
  if (!IsError()) {
    out << "Success";
  } else {
    if (!texts.empty()) out << texts << " ";
    out << "(" << KindName(p ? p->kind : FX_ERROR_NONE);
    if (p && p->kind == FX_ERROR_EVENT_MESSAGE) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(p->number));
      out << " " << hex;
    } else if (p) {
      out << " " << p->number;
    }
    out << ")";
  }
  return out.str();
}

CWqError CWqError::Copy() const {
  CWqError copy;
  copy.m_iCode = m_iCode;
  if (m_ptrPrivate) copy.m_ptrPrivate.reset(new FXErrorPrivate(*m_ptrPrivate));
  return copy;
}
