#include "app/record_controller.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>

#include "acquisition/record_targets.h"
#include "numtext/duration.h"

RecordController::RecordController(QObject* parent) : QObject(parent) {}

RecordController::~RecordController() {
    if (m_recorder) m_recorder->RequestStop();
    if (m_thread.joinable()) m_thread.join();
}

void RecordController::Start(const D2xxApi& api, RecordOptions options, bool overwrite,
                             std::unique_ptr<PrefixLock> lock, QString marker) {
    m_oldSeriesGone = !overwrite;
    if (overwrite) {
        const std::string prefix = options.prefix;
        options.beforeStream = [this, prefix](std::string& failedPath) {
            const FileError error = RemoveSeries(prefix, failedPath);
            m_oldSeriesGone.store(error == FileError::None, std::memory_order_release);
            return error;
        };
    }
    m_options = options;
    m_lock = std::move(lock);
    m_marker = std::move(marker);
    m_outcome = {};
    m_endText.clear();
    m_done = false;
    m_recorder = std::make_unique<Recorder>(api, std::move(options));
    m_elapsed.start();
    m_thread = std::thread([this] {
        m_outcome = m_recorder->Run();
        m_done.store(true, std::memory_order_release);
        QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
    });
    emit started();
}

void RecordController::Stop() {
    if (m_recorder) m_recorder->RequestStop();
}

void RecordController::StopAndWait() {
    Stop();
    while (Running()) {
        if (m_done.load(std::memory_order_acquire)) {
            Finish();
        } else {
            QThread::msleep(5);
        }
    }
}

void RecordController::Finish() {
    if (!m_thread.joinable()) return;
    m_thread.join();
    m_seconds = m_elapsed.elapsed() / 1000;
    m_lock.reset();
    if (!m_marker.isEmpty()) QFile::remove(m_marker);
    std::string text = RecordSummaryText(m_outcome, m_options, m_seconds);
    for (const RecordGap& gap : m_outcome.gaps) text += "\n" + RecordGapText(gap, m_options.prefix);
    for (const std::int64_t step : m_outcome.clockSteps) text += "\n" + ClockStepText(step);
    if (m_outcome.end != RecordEnd::Done) {
        std::string why = m_outcome.message;
        if (m_outcome.end == RecordEnd::File && !m_outcome.failedPath.empty()) {
            const std::string cause =
                m_outcome.fileCause != 0 ? CauseText(m_outcome.fileCause).toStdString() : std::string();
            why += ": " + RecordFileFailureText(m_outcome, cause.empty() ? "failed" : cause, cause);
        } else if (m_outcome.end == RecordEnd::WriterBehind) {
            why += ": the writer fell behind the logger; every sample stored so far is written";
        }
        text = why + (text.empty() ? "" : "\n" + text);
    }
    m_endText = LoggerText() + QString::fromStdString(text.empty() ? "Nothing was recorded." : text);
    emit finished();
}

std::uint64_t RecordController::Samples() const { return m_recorder ? m_recorder->Samples() : 0; }

QString RecordController::CauseText(int error) {
    switch (error) {
    case ENOSPC: return QStringLiteral("the disk is full");
    case ENOENT: return QStringLiteral("the folder does not exist");
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString RecordController::LoggerText() const {
    return m_options.serial ? QStringLiteral("Logger %1: ").arg(*m_options.serial) : QString();
}

bool RecordController::WaitingForTrigger() const {
    return Running() && m_options.trigger.type != TRIGGER_NONE && Samples() == 0;
}

QString RecordController::ProgressText() const {
    if (!m_recorder) return {};
    const std::int64_t seconds = Running() ? m_elapsed.elapsed() / 1000 : m_seconds;
    const std::uint64_t samples = m_recorder->Samples();
    if (WaitingForTrigger()) {
        return QStringLiteral("%1%2 elapsed, waiting for trigger").arg(LoggerText(), QString::fromStdString(ElapsedText(seconds)));
    }
    const std::uint32_t files = m_recorder->Files();
    return QStringLiteral("%1%2 elapsed, %3 samples, %4 file%5")
        .arg(LoggerText(), QString::fromStdString(ElapsedText(seconds)))
        .arg(samples)
        .arg(files)
        .arg(QLatin1String(files == 1 ? "" : "s"));
}
