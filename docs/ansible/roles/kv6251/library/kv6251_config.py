# Puts a configuration on the KV6251 boxes of the managed host with kv6251-cli, and says per
# port what it did. Standard library and Ansible's module utilities only, so that a managed
# host needs nothing but Python and kv6251-cli.

DOCUMENTATION = r"""
module: kv6251_config
short_description: Put a configuration on the KV6251 boxes of a host
description:
  - Runs C(kv6251-cli send --if-different --json) for the listed ports, all at once. A box that
    already holds the configuration is left alone (ok); one that did not is sent it (changed).
  - In check mode runs C(kv6251-cli check --json) instead. Nothing is sent to the boxes but the
    read command; a box that differs is reported changed, with the differing fields.
  - "A port that fails fails the task, with its code and meaning, for example
    C(COM2: Error 10: The two files differ in content.)."
options:
  ports:
    description: Port numbers and ranges, for example C([1, 2]) or C("1-4,7").
    type: list
    elements: raw
    required: true
  configuration:
    description: "C(A:B:C:D:M) (four PIDs 0 to 8191 and the mode, 0 Double or 1 Single), or the
      path of a C(.swi) file on the managed host."
    type: str
    required: true
  cli:
    description: The kv6251-cli to run, a path or a name looked up in PATH.
    type: str
    default: kv6251-cli
  root:
    description: The root directory (C(kv6251-cli --root)), where the port mappings com<n> are.
      Unset, kv6251-cli uses C($XDG_DATA_HOME/kv6251) of the user the task runs as.
    type: path
"""

EXAMPLES = r"""
- name: Put the rack's configuration on COM1 to COM4
  kv6251_config:
    ports: "1-4"
    configuration: /etc/kv6251/rack.swi
    root: /var/lib/kv6251
"""

RETURN = r"""
ports:
  description: kv6251-cli's JSON object for each port, in port order (code, text, meaning,
    details, port, device, configuration, changed; in check mode also box and differences).
  returned: when kv6251-cli ran
  type: list
  elements: dict
changed_ports:
  description: The ports sent the configuration, or in check mode the ports that differ.
  returned: when kv6251-cli ran
  type: list
  elements: int
cmd:
  description: The command run.
  returned: always
  type: list
exit_status:
  description: kv6251-cli's exit status.
  returned: when kv6251-cli ran
  type: int
"""

import json
import re

from ansible.module_utils.basic import AnsibleModule

PORT_ITEM = re.compile(r"^[0-9]+(-[0-9]+)?$")
FIELDS = ("PidA", "PidB", "PidC", "PidD", "Mode")


def port_list(module, ports):
    items = [str(p).strip() for p in ports]
    bad = [p for p in items if not PORT_ITEM.match(p)]
    if not items or bad:
        module.fail_json(msg="ports: give port numbers or ranges such as 1 or 1-4, not %s" % (bad or "nothing"))
    return ",".join(items)


def difference_text(d):
    where = d["field"] if "field" in d else "byte %s" % d.get("offset")
    return "%s box %s wanted %s" % (where, d.get("box"), d.get("wanted"))


def port_line(r):
    """COM<n>: the text, and what differs."""
    line = "COM%s: %s" % (r.get("port"), r.get("text", ""))
    if r.get("differences"):
        line += " (%s)" % ", ".join(difference_text(d) for d in r["differences"])
    return line


def failure_line(r):
    """COM<n>, the text and the code (when the text does not hold it), and why."""
    code, text = r.get("code"), r.get("text", "").strip()
    line = "COM%s: %s" % (r.get("port"), text)
    if text != "Error %s" % code:
        line += " (code %s)" % code
    why = [r["meaning"]] if r.get("meaning") else r.get("details", [])
    if why:
        line += ": %s" % " ".join(why)
    return line


def config_line(r, side, config):
    """COM<n> and the configuration as one line, with the other bytes that differ (side: box or
    wanted), for --diff."""
    words = ["%s=%s" % (f, config.get(f)) for f in FIELDS] if config else ["(unreadable)"]
    words += ["byte%s=%s" % (d["offset"], d.get(side)) for d in r.get("differences", []) if "offset" in d]
    return "COM%s %s\n" % (r.get("port"), " ".join(words))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            ports=dict(type="list", elements="raw", required=True),
            configuration=dict(type="str", required=True),
            cli=dict(type="str", default="kv6251-cli"),
            root=dict(type="path"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    # YAML 1.1 reads an unquoted 1:2:3:4:0 as a number in base 60; what arrives is its digits.
    if p["configuration"].isdigit():
        module.fail_json(msg="configuration %s is a number, not A:B:C:D:M: quote it in YAML (\"1:2:3:4:0\")"
                         % p["configuration"])
    cli = p["cli"] if "/" in p["cli"] else module.get_bin_path(p["cli"], required=True)
    cmd = [cli]
    if p["root"]:
        cmd += ["--root", p["root"]]
    # check mode reads the boxes and nothing else; a difference is what a run would change.
    if module.check_mode:
        cmd += ["check"]
        fine = (0, 1)
    else:
        cmd += ["send", "--if-different"]
        fine = (0,)
    cmd += ["--port", port_list(module, p["ports"]), "--json", p["configuration"]]

    rc, out, err = module.run_command(cmd)
    # Not "rc": Ansible fails any result whose rc is not 0, and check's 1 (a difference) is none.
    result = dict(changed=False, cmd=cmd, exit_status=rc, stderr=err)
    try:
        report = json.loads(out)
    except ValueError:
        why = err.strip() or out.strip()
        module.fail_json(msg="kv6251-cli gave no JSON (exit status %d): %s" % (rc, why), **result)
    if not isinstance(report, dict):
        module.fail_json(msg="kv6251-cli gave unexpected JSON: %s" % out.strip(), **result)
    results = report.get("results", [report])
    # Bad usage or data is refused before any port is touched: a single object without a port.
    if not results or any("port" not in r for r in results):
        module.fail_json(msg="kv6251-cli: %s (exit status %s)" % (report.get("text", ""), report.get("code", rc)),
                         details=report.get("details", []), **result)

    failed = [r for r in results if r.get("code") not in fine]
    for r in results:
        r["changed"] = bool(r.get("changed")) or (module.check_mode and r.get("code") == 1)
    result.update(
        ports=results,
        changed_ports=[r["port"] for r in results if r["changed"]],
        msg="; ".join(port_line(r) for r in results),
    )
    result["changed"] = bool(result["changed_ports"])
    if module.check_mode and module._diff:
        differing = [r for r in results if r["changed"]]
        result["diff"] = dict(
            before="".join(config_line(r, "box", r.get("box")) for r in differing),
            after="".join(config_line(r, "wanted", r.get("configuration")) for r in differing),
        )
    if failed:
        result["msg"] = "; ".join(failure_line(r) for r in failed)
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
