#include "recover/file_verdict.h"

QString verdict_name(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Intact: return QStringLiteral("intact");
    case Verdict::Partial: return QStringLiteral("partial");
    case Verdict::Empty: break;
    }
    return QStringLiteral("empty");
}
