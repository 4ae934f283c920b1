#include "recover/file_verdict.h"

QString verdict_name(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Intact: return QStringLiteral("intact");
    case Verdict::Partial: return QStringLiteral("partial");
    case Verdict::RebuiltIndex: return QStringLiteral("rebuilt index");
    case Verdict::NoIndex: return QStringLiteral("no index");
    case Verdict::Empty: break;
    }
    return QStringLiteral("empty");
}
