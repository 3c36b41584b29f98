#include "pgs_settings_page.h"

#include "error_handler.h"

#include "tk_error_converter.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

std::optional<int> parse_port_text(const std::string& text)
{
    if (text.empty() || text == "0")
        return 0;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 65535)
            return std::nullopt;
    }
    if (value < 1)
        return std::nullopt;
    return static_cast<int>(value);
}

std::string connection_error_text(const tk_exception& e)
{
    const tk_error_converter codes(error_handler_code_count, error_handler_codes);
    std::string text = codes.convert(e.system_error);
    return connection_box_text(text.empty() ? e.message : text);
}

std::string connection_box_text(std::string text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\t') {
            out += c;
            continue;
        }
        if (out.empty() || out.back() != '\n')
            out += '\n';
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

namespace {

QLineEdit* edit(QWidget* parent, int id)
{
    return with_id(new QLineEdit(parent), id);
}

QLabel* label_for(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
}

}  // namespace

pgs_settings_page_base::pgs_settings_page_base()
    : wizard_page(L"Step 1 of 4", L"Connect to PostgreSQL server")
{
    auto* intro =
        new QLabel(QStringLiteral("Provide necessary information to establish connection with PostgreSQL server."), this);
    intro->setWordWrap(true);

    auto* mode_box = new QGroupBox(QStringLiteral(" Access mode "), this);
    auto* local = with_id(new QRadioButton(QStringLiteral("&Local"), mode_box), conn_local_id);
    auto* remote = with_id(new QRadioButton(QStringLiteral("&Remote"), mode_box), conn_remote_id);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(local, conn_local_id);
    group->addButton(remote, conn_remote_id);
    auto* mode_layout = new QVBoxLayout(mode_box);
    mode_layout->addWidget(local);
    mode_layout->addWidget(remote);
    mode_layout->addStretch();

    auto* auth_box = new QGroupBox(QStringLiteral(" Authorization settings "), this);
    auto* user = edit(auth_box, conn_user_id);
    auto* password = edit(auth_box, conn_password_id);
    password->setEchoMode(QLineEdit::Password);
    auto* auth_layout = new QGridLayout(auth_box);
    auth_layout->addWidget(label_for(QStringLiteral("&User name:"), user, auth_box), 0, 0);
    auth_layout->addWidget(user, 0, 1);
    auth_layout->addWidget(label_for(QStringLiteral("User pa&ssword:"), password, auth_box), 1, 0);
    auth_layout->addWidget(password, 1, 1);

    auto* remote_box = new QGroupBox(QStringLiteral(" Remote settings "), this);
    auto* host = edit(remote_box, conn_host_id);
    auto* port = edit(remote_box, conn_port_id);
    auto* remote_layout = new QGridLayout(remote_box);
    remote_layout->addWidget(label_for(QStringLiteral("H&ost:"), host, remote_box), 0, 0);
    remote_layout->addWidget(host, 0, 1);
    remote_layout->addWidget(new QLabel(QStringLiteral("(it could be network name or IP address)"), remote_box), 0, 2);
    remote_layout->addWidget(label_for(QStringLiteral("&Port:"), port, remote_box), 1, 0);
    remote_layout->addWidget(port, 1, 1);
    remote_layout->addWidget(new QLabel(QStringLiteral("(default port is 5432)"), remote_box), 1, 2);

    auto* top = new QHBoxLayout;
    top->addWidget(mode_box);
    top->addWidget(auth_box, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(intro);
    layout->addLayout(top);
    layout->addWidget(remote_box);
    layout->addStretch();

    connect(local, &QRadioButton::clicked, this,
            [this] { wizard_shell::guarded([this] { enable_ctrl(conn_host_id, false); }); });
    connect(remote, &QRadioButton::clicked, this, [this] {
        wizard_shell::guarded([this] {
            enable_ctrl(conn_host_id, true);
            control(conn_host_id)->setFocus();
        });
    });
}

pgs_settings_page_base::typed pgs_settings_page_base::read_typed() const
{
    typed t;
    if (control_as<QRadioButton>(conn_remote_id)->isChecked())
        t.host = control_as<QLineEdit>(conn_host_id)->text().toStdString();
    t.user = control_as<QLineEdit>(conn_user_id)->text().toStdString();
    t.password = control_as<QLineEdit>(conn_password_id)->text().toStdString();
    t.port = parse_port_text(control_as<QLineEdit>(conn_port_id)->text().toStdString());
    return t;
}

void pgs_settings_page_base::show_values(const std::string& host, const std::string& user,
                                         const std::string& password, int port)
{
    control_as<QLineEdit>(conn_user_id)->setText(QString::fromStdString(user));
    control_as<QLineEdit>(conn_password_id)->setText(QString::fromStdString(password));
    control_as<QLineEdit>(conn_port_id)->setText(QString::number(port));
    if (!host.empty()) {
        control_as<QRadioButton>(conn_remote_id)->setChecked(true);
        enable_ctrl(conn_host_id, true);
        control(conn_host_id)->setFocus();
        control_as<QLineEdit>(conn_host_id)->setText(QString::fromStdString(host));
    } else {
        control_as<QRadioButton>(conn_local_id)->setChecked(true);
        enable_ctrl(conn_host_id, false);
    }
}
