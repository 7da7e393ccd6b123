#include "ports/port_texts.h"

#include <QCoreApplication>
#include <QStringList>

namespace ports {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("ports", text);
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QString holdersText(const std::vector<platform::PortHolder>& holders) {
    QStringList names;
    for (const platform::PortHolder& holder : holders)
        names << tr("%1 (pid %2)").arg(qs(holder.name)).arg(holder.pid);
    return names.join(QStringLiteral(", "));
}

QString portLine(const platform::PortInfo& port) {
    QStringList parts;
    if (!port.vendorId.empty()) {
        QString adapter = port.product.empty() ? tr("USB-адаптер") : qs(port.product);
        if (!port.vendor.empty()) adapter += QStringLiteral(" (%1)").arg(qs(port.vendor));
        adapter += QStringLiteral(" [%1:%2]").arg(qs(port.vendorId), qs(port.productId));
        parts << adapter;
        parts << (port.serial.empty()
                      ? tr("без серийного номера, гнездо USB %1").arg(qs(port.usbSocket))
                      : tr("серийный номер %1").arg(qs(port.serial)));
    }
    if (port.isUart()) {
        QString uart = tr("UART %1, порт $%2")
                           .arg(qs(port.uartType))
                           .arg(QString::number(port.ioPort, 16).toUpper());
        if (port.irq >= 0) uart += QStringLiteral(", IRQ %1").arg(port.irq);
        parts << uart;
        if (!port.pciCard.empty()) parts << tr("плата PCI %1").arg(qs(port.pciCard));
    }
    if (!port.driver.empty()) parts << tr("драйвер %1").arg(qs(port.driver));
    QString line = qs(port.device);
    if (!parts.isEmpty()) line += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    if (port.stableName() != port.device) line += QStringLiteral(" — ") + qs(port.stableName());
    if (!port.holders.empty()) line += tr("; открыт: %1").arg(holdersText(port.holders));
    return line;
}

}  // namespace ports
