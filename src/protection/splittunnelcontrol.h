#pragma once

#include <QString>
#include <QStringList>

#include <functional>

#include "platform/splitter.h"

namespace Tavrix {

// Split tunnelling without widgets: which applications bypass the tunnel, and handing that
// choice to the split-tunnel service and its control program. Applying a selection waits for
// system commands, so it runs on a worker thread of its own; applications of the selection
// are carried out one after another, in the order they were asked for.
namespace SplitTunnelControl {

// The selection to apply now: the stored chosen applications when the feature is on, none
// when it is off.
QStringList currentSelection();

// Hands `baseNames` to the service (starting it when needed) and restarts the control program
// with them. An empty selection releases every application and removes the bypass rules.
// Blocks; applyAsync() is the form for the GUI thread.
void apply(const QStringList &baseNames);
void applyAsync(const QStringList &baseNames);
// Waits at most timeoutMs for queued applications to finish; true when none is left.
bool waitForIdle(int timeoutMs);

// Stops the control program and removes the bypass rules: at log-out and quit, so that no
// application stays outside the tunnel afterwards. Blocks for a few seconds at most.
void shutdown();
// The same queued behind the selections still being applied, without waiting: at log-out.
// A later shutdown() (at quit) waits for it.
void shutdownAsync();

// Tests: when set, apply() hands the selection to `observer` instead of the system.
void setApplyObserver(std::function<void(const QStringList &)> observer);

// The path as a row shows it: cut to its first 60 characters plus "..." from 60 on.
QString displayPath(const QString &path);

// The running programs users recognise as applications, with their names and icons, once
// each and in order.
QVector<Splitter::Application> listableApplications(const QStringList &paths);

} // namespace SplitTunnelControl
} // namespace Tavrix
